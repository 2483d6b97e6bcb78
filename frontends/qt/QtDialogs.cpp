#include "frontends/qt/QtDialogs.h"

#include "frontends/qt/V24DialogView.h"
#include "platform/Application.h"
#include "serial/V24Dialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace qtfront {

QString FromLatin1(const std::string& latin1) {
    QString text = QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size()));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

int RunModal(QDialog& dialog) {
    bool finished = false;
    int result = QDialog::Rejected;
    const QMetaObject::Connection connection =
        QObject::connect(&dialog, &QDialog::finished, &dialog, [&](int code) {
            finished = true;
            result = code;
        });
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    platform::Application& application = platform::Application::Instance();
    while (!finished && !application.Terminated()) {
        application.HandleMessage();
    }
    if (!finished) {
        dialog.reject();
    }
    QObject::disconnect(connection);
    dialog.hide();
    return result;
}

int QtDialogs::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    QMessageBox box(parent_);
    box.setWindowTitle(FromLatin1(caption));
    box.setText(FromLatin1(text));
    switch (flags & 0xF0) {
    case platform::MB_ICONERROR:
        box.setIcon(QMessageBox::Critical);
        break;
    case platform::MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case platform::MB_ICONWARNING:
        box.setIcon(QMessageBox::Warning);
        break;
    case platform::MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    switch (flags & 0x0F) {
    case platform::MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    case platform::MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }
    RunModal(box);
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Yes:
        return platform::IDYES;
    case QMessageBox::No:
        return platform::IDNO;
    case QMessageBox::Ok:
        return platform::IDOK;
    default:
        // Closed without a button (the loop ended): the safe answer.
        return (flags & 0x0F) == platform::MB_YESNO ? platform::IDNO : platform::IDCANCEL;
    }
}

bool QtDialogs::OpenFile(const std::string& title, const std::string& filter, std::string& path) {
    // Paths are bytes on Linux; only captions are Latin-1.
    QFileInfo start(QFile::decodeName(path.c_str()));
    QFileDialog dialog(parent_, FromLatin1(title), start.isDir() ? start.filePath() : start.path());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // "*.*" means every file on Windows; here files need not have a dot.
    const QString pattern =
        filter == "*.*" || filter.empty() ? QStringLiteral("*") : FromLatin1(filter);
    dialog.setNameFilter(pattern);
    if (RunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    path = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
    return true;
}

bool QtDialogs::ChooseFolder(const std::string& title, std::string& folder) {
    QFileDialog dialog(parent_, FromLatin1(title), QFile::decodeName(folder.c_str()));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (RunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    folder = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
    return true;
}

void QtDialogs::Beep() {
    QApplication::beep();
}

bool QtDialogs::OpenDocument(const std::string& path) {
    // The desktop's opener reports a missing file only in its own window.
    const QString file = QFile::decodeName(path.c_str());
    if (!QFileInfo(file).isFile()) {
        return false;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

int QtDialogs::ShowModal(platform::TModalForm& form) {
    auto* settings = dynamic_cast<serial::TV24_Dialog*>(&form);
    if (settings == nullptr) {
        return platform::IDCANCEL;
    }
    V24DialogView view(*settings, parent_);
    RunModal(view);
    return settings->ModalResult() == platform::IDOK ? platform::IDOK : platform::IDCANCEL;
}

} // namespace qtfront
