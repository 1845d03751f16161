#include "filenames.h"

#include <QStringDecoder>

namespace kibro {

namespace {

constexpr char kSeparator = '/';

void appendEscape(QString& out, char32_t code, bool asByte)
{
    out += asByte ? QStringLiteral("\\x") : QStringLiteral("\\u");
    out += QString::number(uint(code), 16).toUpper().rightJustified(asByte ? 2 : 4, u'0');
}

bool isBidiControl(char32_t code)
{
    return code == 0x061C || code == 0x200E || code == 0x200F ||
           (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

void appendVisible(QString& out, char32_t code)
{
    switch (code) {
    case u'\n':
        out += QStringLiteral("\\n");
        return;
    case u'\r':
        out += QStringLiteral("\\r");
        return;
    case u'\t':
        out += QStringLiteral("\\t");
        return;
    default:
        break;
    }
    if (code < 0x20 || code == 0x7F)
        appendEscape(out, code, true);
    else if ((code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029 ||
             isBidiControl(code) || (code >= 0xD800 && code <= 0xDFFF))
        appendEscape(out, code, false);
    else
        out += QString::fromUcs4(&code, 1);
}

// The length of the well-formed UTF-8 sequence at bytes[i], and its code point; 0 if none.
int utf8Sequence(const QByteArray& bytes, qsizetype i, char32_t& code)
{
    const auto at = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = at(i);
    int length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const unsigned char next = at(i + k);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// Bytes read as UTF-8 where they can be, each byte that cannot shown as \xNN. Without a
// stray byte this is plain UTF-8 decoding.
QString utf8OrEscaped(const QByteArray& bytes, bool* clean)
{
    QString out;
    out.reserve(bytes.size());
    *clean = true;
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t code = 0;
        const int length = utf8Sequence(bytes, i, code);
        if (length == 0) {
            appendEscape(out, static_cast<unsigned char>(bytes[i]), true);
            *clean = false;
            ++i;
            continue;
        }
        appendVisible(out, code);
        i += length;
    }
    return out;
}

std::optional<QString> decodeShiftJis(const QByteArray& bytes)
{
    // windows-31j is the Shift-JIS of Japanese PCs (NEC and IBM extensions included).
    for (const char* name : {"windows-31j", "Shift_JIS"}) {
        QStringDecoder decoder(name, QStringConverter::Flag::Stateless);
        if (!decoder.isValid())
            continue;
        const QString text = decoder.decode(bytes);
        if (decoder.hasError())
            return std::nullopt;
        return text;
    }
    return std::nullopt;
}

} // namespace

QString visibleText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t code = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        appendVisible(out, code);
    }
    return out;
}

bool isShiftJis(const QByteArray& bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80 || (byte >= 0xA1 && byte <= 0xDF))
            continue;
        const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        if (!lead || i + 1 >= bytes.size())
            return false;
        const auto trail = static_cast<unsigned char>(bytes[++i]);
        if (trail < 0x40 || trail == 0x7F || trail > 0xFC)
            return false;
    }
    return true;
}

QString readableName(const QByteArray& name)
{
    bool clean = true;
    QString text = utf8OrEscaped(name, &clean);
    if (clean || !isShiftJis(name))
        return text;
    if (const auto decoded = decodeShiftJis(name))
        return visibleText(*decoded);
    return text;
}

NativePath childPath(const NativePath& directory, const QByteArray& name)
{
    if (directory.endsWith(kSeparator))
        return directory + name;
    return directory + kSeparator + name;
}

} // namespace kibro
