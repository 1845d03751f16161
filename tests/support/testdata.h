#pragma once
// What many suites send and expect: file contents, the program's own message texts, and how
// to say where received bytes went wrong.

#include <QByteArray>
#include <QString>

#include <chrono>

namespace testdata {

inline const QString kCancelText = QStringLiteral("ファイル転送を中止します。");
inline const QString kCancelTitle = QStringLiteral("CANCEL");
inline const QString kFailureText = QStringLiteral("ファイル転送に失敗しました。");
inline const QString kFailureTitle = QStringLiteral("Transfer Error");
inline const QString kUnreadableText = QStringLiteral("ファイルを読み込めません。");
inline const QString kTooLargeText = QStringLiteral("ファイルが大きすぎます。");
inline const QString kFileErrorTitle = QStringLiteral("File Error");
inline const QString kOpenErrorTitle = QStringLiteral("COM Open Error");

[[nodiscard]] QString openFailedText(int port);
[[nodiscard]] QString reopenFailedText(int port);

// 0x00 to 0xFF, once each, in order.
[[nodiscard]] QByteArray allByteValues();
[[nodiscard]] QByteArray randomBytes(qsizetype size);

// How many bytes a pseudo-terminal takes from a writer before its reader reads any, in raw
// mode as the program sets it; measured once, since kernels differ.
[[nodiscard]] qsizetype ptyCapacity();
// A file the program is still in the middle of however far it runs ahead of the peer: the
// peer has taken at most its first kilobytes while the rest cannot all fit in the pty.
[[nodiscard]] qsizetype midFileSize();

// Runs the event loop until all that was posted before, deferred deletes included, has been
// handled: the program is idle, on a slow machine as on a fast one. False past the bound.
[[nodiscard]] bool drainEvents();

// Why received is not the whole file or a prefix of it; empty when it is.
[[nodiscard]] QString prefixProblem(const QByteArray& received, const QByteArray& file);

// CPU time this process has used, user and system, as finely as the kernel counts it.
[[nodiscard]] std::chrono::microseconds processCpu();

} // namespace testdata

// Fails the test with the reason a rig step gave, if it gave one.
#define RIG_OK(expression)                                                                         \
    do {                                                                                           \
        const QString why_ = (expression);                                                         \
        QVERIFY2(why_.isEmpty(), qPrintable(why_));                                                \
    } while (false)
