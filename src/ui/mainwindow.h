#pragma once

#include "filenames.h"
#include "receivewindow.h"
#include "sendwindow.h"
#include "serialport.h"
#include "settingswindow.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>

class QAction;
class QCoreApplication;

namespace kibro {

class DriveList;
class DirectoryList;
class FileList;

// The main window: owns the port and the file chooser, and starts and ends the program.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);

    // Start-up: position from the store, then the port. Call before show().
    void startUp();
    void onExitTriggered();
    void onSettingsTriggered();
    void onReceiveTriggered();

    void onDriveChanged();
    void onDirectoryChanged();
    void onFileClicked();
    // A file handed over from outside (the command line, a drop): the lists go to its folder
    // with it selected, and its send window opens as a click on it would.
    void openFile(const QString& path);
    // The same by the name's exact bytes, as the command line gives it.
    void openNativeFile(const NativePath& path);

    [[nodiscard]] SerialPort& serialPort() noexcept { return m_serial; }
    [[nodiscard]] QString chosenPath() const { return m_chosenPath; }
    [[nodiscard]] NativePath chosenNativePath() const { return m_chosenNativePath; }
    [[nodiscard]] DriveList* driveList() const noexcept { return m_driveList; }
    [[nodiscard]] DirectoryList* directoryList() const noexcept { return m_directoryList; }
    [[nodiscard]] FileList* fileList() const noexcept { return m_fileList; }
    [[nodiscard]] SendWindow* sendWindow() const { return m_sendWindow.data(); }
    [[nodiscard]] SettingsWindow* settingsWindow() const { return m_settingsWindow.data(); }
    [[nodiscard]] ReceiveWindow* receiveWindow() const { return m_receiveWindow.data(); }

    // How the program ends once the exit routine is done. Tests replace it.
    void setEndProgram(std::function<void()> endProgram) { m_endProgram = std::move(endProgram); }
    [[nodiscard]] bool hasEnded() const noexcept { return m_ended; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Accepts a drop of one local file as a copy; false, and ignored, for anything else.
    bool acceptAsCopy(QDropEvent* event);
    void showSendWindow(const NativePath& path);
    void onReceived(const NativePath& path);

    SerialPort m_serial;
    QString m_chosenPath;
    NativePath m_chosenNativePath;
    DriveList* m_driveList = nullptr;
    DirectoryList* m_directoryList = nullptr;
    FileList* m_fileList = nullptr;
    QAction* m_exitAction = nullptr;
    QAction* m_settingsAction = nullptr;
    QAction* m_receiveAction = nullptr;
    QPointer<SendWindow> m_sendWindow;
    QPointer<SettingsWindow> m_settingsWindow;
    QPointer<ReceiveWindow> m_receiveWindow;
    std::function<void()> m_endProgram;
    bool m_ended = false;
};

// A held Enter, Space or Esc acts once, in every window of the program and its message boxes.
void installSingleActionKeys(QCoreApplication& app);

} // namespace kibro
