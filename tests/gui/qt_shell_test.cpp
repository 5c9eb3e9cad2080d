#include <gtest/gtest.h>

#include "test_helpers.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

#include "app/program.h"
#include "gui/help_document.h"
#include "gui/qt_shell.h"
#include "modal_closer.h"
#include "resources/command_layout.h"

namespace {

class QtShellTest : public ::testing::Test {
 protected:
  QMainWindow window_;
  Program program_;
  QtShell shell_{window_, program_};
};

struct MessageCase {
  const char* name;
  const char* caption;
  MessageIcon icon;
  MessageOwner owner;
  const char* shownCaption;
  QMessageBox::Icon shownIcon;
};

void PrintTo(const MessageCase& c, std::ostream* out) {
  *out << c.name;
}

class QtShellMessageTest : public QtShellTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(QtShellMessageTest, MessageBoxHasCaptionIconOwnerAndOneOkButton) {
  const MessageCase& c = GetParam();
  QMessageBox* seen = nullptr;
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QWidget* parent = nullptr;
  int buttons = 0;
  ModalCloser closer([&](QWidget* modal) {
    seen = qobject_cast<QMessageBox*>(modal);
    if (seen == nullptr) return;
    title = seen->windowTitle();
    text = seen->text();
    icon = seen->icon();
    parent = seen->parentWidget();
    buttons = static_cast<int>(seen->buttons().size());
  });
  // Markup in a device's error text is shown as it is, never interpreted.
  shell_.showMessage("<b>Device</b> unavailable\r\nline two", c.caption, c.icon, c.owner);
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(title, QString::fromUtf8(c.shownCaption));
  EXPECT_EQ(icon, c.shownIcon);
  EXPECT_EQ(parent, c.owner == MessageOwner::kMainWindow ? &window_ : nullptr);
  EXPECT_EQ(text, QStringLiteral("<b>Device</b> unavailable\nline two"));
  EXPECT_EQ(buttons, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, QtShellMessageTest,
    ::testing::Values(MessageCase{"StopIconIsCritical", "", MessageIcon::kStop,
                                  MessageOwner::kMainWindow, "Mervane", QMessageBox::Critical},
                      MessageCase{"DeviceErrorWithoutOwner", "WaveOut Error!", MessageIcon::kNone,
                                  MessageOwner::kNoOwner, "WaveOut Error!", QMessageBox::NoIcon},
                      MessageCase{"Information", "Info.", MessageIcon::kInformation,
                                  MessageOwner::kNoOwner, "Info.", QMessageBox::Information}),
    caseName<MessageCase>);

// Picks `filter` in the file dialog that opens next and accepts `fileName` typed into it.
ModalCloser chooseInNextFileDialog(const QString& filter, const QString& fileName, QString* title,
                                   QStringList* filters) {
  return ModalCloser([=](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    *title = dialog->windowTitle();
    *filters = dialog->nameFilters();
    // Picked the way a user picks it, so the dialog hears of it as it would then.
    auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(types, nullptr);
    const int index = types->findText(filter);
    ASSERT_GE(index, 0);
    types->setCurrentIndex(index);
    emit types->activated(index);
    emit types->textActivated(filter);
    // Typing the name is what a user does; it also lets the dialog add its default suffix.
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(fileName);
    static_cast<QDialog*>(dialog)->accept();  // the file dialog's own accept, as OK runs it
  });
}

TEST_F(QtShellTest, OpenDialogOffersBothFiltersAndTheChosenFilterDecidesTheKind) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("settings.son"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();

  QString title;
  QStringList filters;
  // A .son file read through the Parameters filter is read as a parameter file.
  ModalCloser closer =
      chooseInNextFileDialog(QString::fromLatin1(kParametersFilter), path, &title, &filters);
  const std::optional<FileChoice> choice = shell_.chooseFileToOpen();
  ASSERT_TRUE(choice.has_value());
  EXPECT_EQ(title, QStringLiteral("Open File"));
  EXPECT_EQ(filters, QStringList({"Sonar (*.son)", "Parameters (*.par)"}));
  EXPECT_EQ(QString::fromStdString(choice->path), path);
  EXPECT_EQ(choice->kind, FileKind::kParameters);
}

TEST_F(QtShellTest, CancelledFileDialogChoosesNothing) {
  ModalCloser closer;  // rejects the dialog
  EXPECT_FALSE(shell_.chooseFileToOpen().has_value());
  EXPECT_TRUE(closer.sawModal());
}

struct SaveCase {
  const char* name;
  const char* filter;
  FileKind kind;
  const char* savedAs;
};

void PrintTo(const SaveCase& c, std::ostream* out) {
  *out << c.name;
}

class QtShellSaveTest : public QtShellTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(QtShellSaveTest, SaveDialogAddsTheExtensionOfTheChosenKind) {
  QTemporaryDir dir;
  QString title;
  QStringList filters;
  const SaveCase& c = GetParam();
  ModalCloser closer = chooseInNextFileDialog(
      QString::fromLatin1(c.filter), dir.filePath(QStringLiteral("sweep")), &title, &filters);
  const std::optional<FileChoice> choice = shell_.chooseFileToSave();
  ASSERT_TRUE(choice.has_value());
  EXPECT_EQ(title, QStringLiteral("Save File As"));
  EXPECT_EQ(choice->kind, c.kind);
  EXPECT_EQ(QString::fromStdString(choice->path), dir.filePath(QString::fromLatin1(c.savedAs)));
}

INSTANTIATE_TEST_SUITE_P(Kinds, QtShellSaveTest,
                         ::testing::Values(SaveCase{"Sonar", kSonarFilter, FileKind::kSonar,
                                                    "sweep.son"},
                                           SaveCase{"Parameters", kParametersFilter,
                                                    FileKind::kParameters, "sweep.par"}),
                         caseName<SaveCase>);

TEST_F(QtShellTest, ProgressShowsInTheStatusBarAndMarksTheEventPump) {
  bool pumpingSeen = false;
  QTimer::singleShot(0, [&] { pumpingSeen = shell_.isPumpingEvents(); });
  shell_.showProgress("Measuring 3 of 10");
  EXPECT_EQ(window_.statusBar()->currentMessage(), QStringLiteral("Measuring 3 of 10"));
  EXPECT_TRUE(pumpingSeen);
  EXPECT_FALSE(shell_.isPumpingEvents());
}

// Stands in for the system's browser.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
  Q_INVOKABLE void open(const QUrl& url) { urls << url; }
};

TEST_F(QtShellTest, HelpOpensTheShippedDocumentInTheBrowser) {
  UrlCatcher browser;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &browser, "open");
  shell_.setBrowserCheck([] { return true; });
  shell_.showHelp();
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(browser.urls.size(), 1);
  QFile shown(browser.urls.front().toLocalFile());
  QFile shipped(QString::fromLatin1(kHelpResourcePath.data(), kHelpResourcePath.size()));
  ASSERT_TRUE(shown.open(QIODevice::ReadOnly));
  ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
  EXPECT_EQ(shown.readAll(), shipped.readAll());
}

// Without a browser the help shows in a window of the program, and once only however often
// Help is asked for.
TEST_F(QtShellTest, HelpWithoutABrowserShowsTheDocumentInTheProgram) {
  UrlCatcher browser;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &browser, "open");
  shell_.setBrowserCheck([] { return false; });
  shell_.showHelp();
  shell_.showHelp();
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  EXPECT_TRUE(browser.urls.isEmpty());
  QDialog* viewer = shell_.helpViewer();
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_EQ(window_.findChildren<QDialog*>(QStringLiteral("helpViewer")).size(), 1);
  auto* text = viewer->findChild<QTextBrowser*>(QStringLiteral("helpText"));
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("timed ping")));
  EXPECT_TRUE(window_.statusBar()->currentMessage().contains(QStringLiteral("No browser")));
  viewer->close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return shell_.helpViewer() == nullptr; }, 2000));
}

TEST(HelpDocument, IsRewrittenInPlaceAndFailsCleanlyWithoutAFolder) {
  QTemporaryDir dir;
  const QString path = writeHelpDocument(dir.path());
  ASSERT_FALSE(path.isEmpty());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
  file.write("stale");
  file.close();
  EXPECT_EQ(writeHelpDocument(dir.path()), path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.readAll().contains("Troubleshooting audio"));

  // A folder that cannot be made (a file is in the way) gives no path, and no crash.
  const QString blocked = dir.filePath(QStringLiteral("help.html/sub"));
  EXPECT_TRUE(writeHelpDocument(blocked).isEmpty());
}

void writeFile(const QString& path) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<html></html>");
}

TEST(HelpDocument, TheInstalledCopyComesFirstThenTheSourceTree) {
  QTemporaryDir prefix;
  const QString bin = prefix.filePath(QStringLiteral("bin"));
  const QString installed = installedHelpDocument(bin);
  // Where the install rules put it: <prefix>/share/mervane beside <prefix>/bin.
  EXPECT_EQ(installed, QDir::cleanPath(prefix.filePath(QStringLiteral("share/mervane/help.html"))));

  const QString source = prefix.filePath(QStringLiteral("src/resources/help/help.html"));
  // Neither there (a build copied away from its sources): Help writes out its own copy instead.
  EXPECT_TRUE(findHelpDocument(bin, source).isEmpty());
  writeFile(source);
  EXPECT_EQ(findHelpDocument(bin, source), source);
  writeFile(installed);
  EXPECT_EQ(findHelpDocument(bin, source), installed);
}

TEST(HelpDocument, AFolderByThatNameIsNoDocument) {
  QTemporaryDir prefix;
  const QString bin = prefix.filePath(QStringLiteral("bin"));
  QDir().mkpath(installedHelpDocument(bin));
  EXPECT_TRUE(findHelpDocument(bin, {}).isEmpty());
}

}  // namespace

#include "qt_shell_test.moc"
