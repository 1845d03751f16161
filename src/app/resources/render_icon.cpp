// Renders the 16 by 16 icon at the sizes a desktop menu asks for. Pixels are repeated, not
// smoothed, so the larger icons keep the small one's look.
#include <QImage>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: render_icon SOURCE.xpm OUTPUT.png SIZE\n");
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[1]));
    const int size = QString::fromLocal8Bit(argv[3]).toInt();
    if (source.isNull() || size <= 0)
        return 1;
    const QImage scaled = source.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return scaled.save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
}
