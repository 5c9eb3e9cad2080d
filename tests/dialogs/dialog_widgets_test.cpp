#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include "case_name.h"

#include <memory>
#include <tuple>
#include <vector>

#include "app/sonar_files.h"
#include "dialogs/analyze_window.h"
#include "dialogs/audio_check_dialog.h"
#include "dialogs/dialogs.h"
#include "dialogs/offset_dialog.h"
#include "dialogs/out_signal_dialog.h"
#include "dialogs/scale_dialog.h"
#include "dialogs/surface_view.h"
#include "dialogs/wave_format_dialog.h"
#include "display/echogram.h"
#include "engine/buffer_plan.h"
#include "test_program.h"

namespace {

enum class Kind { kOutSignal, kWaveFormat, kOffset, kScale };

std::unique_ptr<ModalDialog> makeDialog(Kind kind, Program& program, Shell& shell) {
  switch (kind) {
    case Kind::kOutSignal:
      return std::make_unique<OutSignalDialog>(program, shell, nullptr);
    case Kind::kWaveFormat:
      return std::make_unique<WaveFormatDialog>(program, shell, nullptr);
    case Kind::kOffset:
      return std::make_unique<OffsetDialog>(program, shell, nullptr);
    case Kind::kScale:
      return std::make_unique<ScaleDialog>(program, shell, nullptr);
  }
  return nullptr;
}

template <typename T = QWidget>
T* control(QWidget& dialog, const char* id) {
  T* w = dialog.findChild<T*>(QString::fromLatin1(id));
  EXPECT_NE(w, nullptr) << "control " << id;
  return w;
}

void click(QWidget& dialog, const char* id) {
  control<QAbstractButton>(dialog, id)->click();
}

// Kind of control, and its text where it has one; edits list whether they take digits only.
struct Expected {
  const char* id;
  const char* className;
  const char* text;
};

struct TemplateCase {
  const char* name;
  Kind kind;
  std::vector<Expected> controls;
};

class TemplateTest : public ProgramTest, public testing::WithParamInterface<TemplateCase> {};

TEST_P(TemplateTest, HasEveryControlWithItsIdentifierAndText) {
  auto dialog = makeDialog(GetParam().kind, program, shell);
  for (const Expected& e : GetParam().controls) {
    QWidget* w = control(*dialog, e.id);
    if (w == nullptr) continue;
    EXPECT_STREQ(w->metaObject()->className(), e.className) << e.id;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      // Mnemonics depend on the platform theme.
      EXPECT_EQ(b->text().remove('&').toStdString(), e.text) << e.id;
    }
    if (auto* l = qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(l->text().toStdString(), e.text) << e.id;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      // Digits-only edits carry the validator; the amplification edit takes anything.
      EXPECT_EQ(edit->validator() != nullptr, QString::fromLatin1(e.id) != "1048") << e.id;
      EXPECT_EQ(edit->isEnabled(), std::string(e.text) != "display") << e.id;
    }
  }
}

const std::vector<Expected> kOutSignalControls = {{"1007", "QLineEdit", ""},
                                                  {"1008", "QLineEdit", ""},
                                                  {"1009", "QLineEdit", ""},
                                                  {"1027", "QLineEdit", ""},
                                                  {"1012", "QLineEdit", "display"},
                                                  {"1013", "QLineEdit", "display"},
                                                  {"1016", "QLineEdit", "display"},
                                                  {"1011", "QPushButton", "Play"},
                                                  {"1014", "QLabel", "In buffer [Byte]"},
                                                  {"1015", "QLabel", "Out buffer [Byte]"},
                                                  {"1017", "QLabel", "max distance [m]"},
                                                  {"1041", "QRadioButton", "Chirp <>"},
                                                  {"1040", "QRadioButton", "Chirp <"},
                                                  {"1030", "QRadioButton", "Air"},
                                                  {"1031", "QRadioButton", "Water"},
                                                  {"1032", "QRadioButton", "Steel"},
                                                  {"1033", "QRadioButton", "Granite"},
                                                  {"1042", "QPushButton", "Quiet chirp"},
                                                  {"1", "QPushButton", "OK"},
                                                  {"2", "QPushButton", "Cancel"}};

INSTANTIATE_TEST_SUITE_P(Dialogs, TemplateTest,
                         testing::Values(TemplateCase{"OutSignal", Kind::kOutSignal,
                                                      kOutSignalControls},
                                         TemplateCase{"WaveFormat",
                                                      Kind::kWaveFormat,
                                                      {{"1", "QPushButton", "OK"},
                                                       {"2", "QPushButton", "Cancel"},
                                                       {"1019", "QCheckBox", "Stereo/mono"},
                                                       {"1020", "QCheckBox", "8/16 bits"},
                                                       {"1021", "QRadioButton", "8.0 kHz"},
                                                       {"1022", "QRadioButton", "11.025 kHz"},
                                                       {"1023", "QRadioButton", "22.05 kHz"},
                                                       {"1024", "QRadioButton", "44.1 kHz"},
                                                       {"1025", "QRadioButton", "48 kHz"},
                                                       {"1026", "QRadioButton", "96 kHz"}}},
                                         TemplateCase{"Offset",
                                                      Kind::kOffset,
                                                      {{"1", "QPushButton", "OK"},
                                                       {"2", "QPushButton", "Cancel"},
                                                       {"1050", "QLineEdit", ""},
                                                       {"1051", "QLineEdit", ""},
                                                       {"1052", "QLineEdit", ""},
                                                       {"119", "QLabel", ""}}},
                                         TemplateCase{"Scale",
                                                      Kind::kScale,
                                                      {{"1043", "QLineEdit", ""},
                                                       {"1045", "QLineEdit", ""},
                                                       {"1046", "QCheckBox", "Gain on/off"},
                                                       {"1048", "QLineEdit", ""},
                                                       {"1044", "QLineEdit", ""},
                                                       {"1", "QPushButton", "OK"},
                                                       {"2", "QPushButton", "Cancel"}}}),
                         caseName<TemplateCase>);

// Everything a dialog may change, to compare before and after.
auto editableSettings(const SonarSettings& s) {
  const WaveFormat& f = s.waveFormat;
  return std::make_tuple(s.startFrequency, s.endFrequency, s.chirpTime, s.recordTime, s.offsetBytes,
                         s.deltaOffsetBytes, s.clockMultiplier, s.tuneScale, s.cutOff,
                         s.amplification, s.gain, s.gainEnabled, s.gainTable, s.medium,
                         s.chirpShape, f.channels, f.samplesPerSec, f.bitsPerSample, f.blockAlign,
                         f.avgBytesPerSec, s.inBufferBytes, s.outBufferBytes);
}

class CancelTest : public ProgramTest, public testing::WithParamInterface<Kind> {};

TEST_P(CancelTest, ChangesNothing) {
  const auto before = editableSettings(settings());
  auto dialog = makeDialog(GetParam(), program, shell);
  for (QLineEdit* edit : dialog->findChildren<QLineEdit*>()) edit->setText("3");
  for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) {
    if (b->isCheckable()) b->click();
  }
  click(*dialog, "2");
  EXPECT_EQ(dialog->result(), dialogCode(DialogResult::kCancel));
  EXPECT_EQ(editableSettings(settings()), before);
  EXPECT_TRUE(shell.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Dialogs, CancelTest,
                         testing::Values(Kind::kOutSignal, Kind::kWaveFormat, Kind::kOffset,
                                         Kind::kScale));

TEST_F(ProgramTest, OutSignalOpensWithSettingsAndEmptyFigures) {
  settings().medium = kGranite;
  OutSignalDialog dialog(program, shell, nullptr);
  EXPECT_EQ(control<QLineEdit>(dialog, "1007")->text(), "8000");
  EXPECT_EQ(control<QLineEdit>(dialog, "1009")->text(), "48");
  EXPECT_TRUE(control<QAbstractButton>(dialog, "1033")->isChecked());
  EXPECT_TRUE(control<QAbstractButton>(dialog, "1040")->isChecked());
  for (const char* id : {"1012", "1013", "1016"}) {
    EXPECT_TRUE(control<QLineEdit>(dialog, id)->text().isEmpty()) << id;
  }
  // The medium buttons are one exclusive group, apart from the shape group.
  click(dialog, "1031");
  EXPECT_FALSE(control<QAbstractButton>(dialog, "1033")->isChecked());
  EXPECT_TRUE(control<QAbstractButton>(dialog, "1040")->isChecked());
}

TEST_F(ProgramTest, OutSignalCancelAfterPlayKeepsWhatPlayStored) {
  OutSignalDialog dialog(program, shell, nullptr);
  control<QLineEdit>(dialog, "1009")->setText("100");
  click(dialog, "1031");  // Water, chosen without focus
  click(dialog, "1011");
  EXPECT_EQ(control<QLineEdit>(dialog, "1012")->text(), "18844");  // (8820 + 602) * 2
  EXPECT_EQ(control<QLineEdit>(dialog, "1013")->text(), "352");
  EXPECT_EQ(control<QLineEdit>(dialog, "1016")->text(), "73");  // 98 * 0.746
  EXPECT_EQ(dialog.result(), 0) << "Play leaves the dialog open";
  click(dialog, "2");
  EXPECT_EQ(dialog.result(), dialogCode(DialogResult::kCancel));
  EXPECT_EQ(settings().recordTime, 100u);
  EXPECT_EQ(settings().medium, kWater);
}

TEST_F(ProgramTest, CheckedButtonsCountForDone) {
  WaveFormatDialog format(program, shell, nullptr);
  click(format, "1019");  // stereo off
  click(format, "1021");
  click(format, "1");
  EXPECT_EQ(format.result(), dialogCode(DialogResult::kOk));
  EXPECT_EQ(settings().waveFormat.channels, 1);
  EXPECT_EQ(settings().waveFormat.samplesPerSec, 8000u);

  ScaleDialog scale(program, shell, nullptr);
  control<QLineEdit>(scale, "1048")->setText("loud");
  control<QLineEdit>(scale, "1045")->setText("10");
  click(scale, "1046");
  click(scale, "1");
  EXPECT_EQ(settings().amplification, 0);
  EXPECT_EQ(settings().gainEnabled, 1);
  EXPECT_NEAR(settings().gainTable[438], 0.9977, 1e-4);
}

// What Done stores must come back from a file: a gain a file cannot carry and a tune scale that
// stretches the recording past the buffers (Open would refuse the file) are refused with the
// reason, and the dialog stays open for another value; the value it then takes saves and reopens.
TEST_F(ProgramTest, ScaleDoneRefusesWhatAFileCouldNotBringBack) {
  settings().recordTime = 3600;
  ASSERT_TRUE(planBuffers(settings()));
  ScaleDialog scale(program, shell, nullptr);
  control<QLineEdit>(scale, "1044")->setText("10000");
  click(scale, "1");
  EXPECT_NE(scale.result(), dialogCode(DialogResult::kOk));
  EXPECT_EQ(settings().tuneScale, 2u);
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0].caption, "Set scale");
  const std::string& told = shell.messages[0].text;
  EXPECT_NE(told.find("a tune scale of 10000 with the record time of 3600 ms"), std::string::npos)
      << told;
  const size_t at = told.find("can be 1 to ");
  ASSERT_NE(at, std::string::npos) << told;
  const uint32_t largest = static_cast<uint32_t>(std::stoul(told.substr(at + 12)));
  ASSERT_LT(largest, 10000u);
  ASSERT_GT(largest, 1u);

  control<QLineEdit>(scale, "1045")->setText("300");
  control<QLineEdit>(scale, "1044")->setText(QString::number(largest));
  click(scale, "1");
  ASSERT_EQ(shell.messages.size(), 2u);
  EXPECT_NE(shell.messages[1].text.find("the gain is 300, but a file keeps 0 to 255"),
            std::string::npos)
      << shell.messages[1].text;
  EXPECT_EQ(settings().gain, 0);

  control<QLineEdit>(scale, "1045")->setText("255");
  click(scale, "1");
  EXPECT_EQ(scale.result(), dialogCode(DialogResult::kOk));
  EXPECT_EQ(settings().tuneScale, largest);
  EXPECT_EQ(settings().gain, 255);

  // The file the program writes with them opens again, with them.
  QTemporaryDir dir;
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  App app(program, shell, surface);
  const std::string file = dir.filePath(QStringLiteral("x.son")).toStdString();
  ASSERT_EQ(saveChosenFile(app, FileChoice{file, FileKind::kSonar}), FileOutcome::kDone);
  applyDefaultSettings(settings());
  shell.messages.clear();
  ASSERT_EQ(openChosenFile(app, FileChoice{file, FileKind::kSonar}), FileOutcome::kDone)
      << shell.messages[0].text;
  EXPECT_EQ(settings().tuneScale, largest);
  EXPECT_EQ(settings().recordTime, 3600u);
  EXPECT_EQ(settings().gain, 255);
}

TEST_F(ProgramTest, OffsetDialogShowsAndCommitsItsFields) {
  OffsetDialog dialog(program, shell, nullptr);
  EXPECT_EQ(control<QLineEdit>(dialog, "1051")->text(), "2000");
  EXPECT_FALSE(control<QLabel>(dialog, "119")->pixmap().isNull());
  control<QLineEdit>(dialog, "1050")->clear();
  control<QLineEdit>(dialog, "1052")->setText("101");
  click(dialog, "1");
  EXPECT_EQ(dialog.result(), dialogCode(DialogResult::kOk));
  EXPECT_EQ(settings().offsetBytes, 600u);
  EXPECT_EQ(settings().clockMultiplier, 10u);
}

struct SliderRange {
  const char* id;
  int minimum, maximum, value;
};

void expectSliders(AnalyzeWindow& window, const std::vector<SliderRange>& ranges) {
  for (const SliderRange& r : ranges) {
    auto* slider = control<QSlider>(window, r.id);
    EXPECT_EQ(slider->minimum(), r.minimum) << r.id;
    EXPECT_EQ(slider->maximum(), r.maximum) << r.id;
    EXPECT_EQ(slider->value(), r.value) << r.id;
  }
}

TEST_F(ProgramTest, AnalyzeSlidersAndTheirExtremes) {
  AnalyzeWindow window(program, nullptr);
  expectSliders(window, {{"1000", 0, 9670 - 241, 0}, {"1001", 1, 8, 1}, {"1002", 1, 10, 1}});
  EXPECT_EQ(window.view().surface().clientWidth(), kAnalyzeClientWidth);
  // The far end with the widest zoom reads up to 3840 samples past the start: the drawing must
  // stay inside the buffers (AddressSanitizer builds check it).
  control<QSlider>(window, "1001")->setValue(8);
  control<QSlider>(window, "1002")->setValue(10);
  control<QSlider>(window, "1000")->setValue(9670 - 241);
  EXPECT_FALSE(window.view().surface().textLog().empty());
  EXPECT_EQ(analyzeStartMaximum(241), 0);
  EXPECT_EQ(analyzeStartMaximum(100), 0);
  EXPECT_EQ(analyzeStartMaximum(0), 0);
}

TEST_F(ProgramTest, AnalyzeWindowOnATinyRecording) {
  settings().recordTime = 0;
  settings().chirpTime = 0;
  settings().offsetBytes = 10;
  settings().tuneScale = 1;
  settings().waveFormat.bitsPerSample = 8;
  ASSERT_TRUE(planBuffers(settings()));
  ASSERT_EQ(settings().inBufferBytes, 11u);
  AnalyzeWindow window(program, nullptr);
  expectSliders(window, {{"1000", 0, 0, 0}});
  control<QSlider>(window, "1001")->setValue(8);
}

TEST_F(ProgramTest, AudioCheckMeasuresBeforeItShowsAndDrawsTheResult) {
  AudioCheckDialog dialog(program, shell, nullptr);
  ASSERT_EQ(shell.captions(), std::vector<std::string>{"Info."});
  const PlotSurface& plot = dialog.view().surface();
  EXPECT_EQ(plot.clientHeight(), kAudioCheckClientHeight);
  EXPECT_EQ(plot.pixel(200, 460), (Rgb{0, 255, 0})) << "the frame's bottom line";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor is gone";
  click(dialog, "2");
  EXPECT_EQ(dialog.result(), dialogCode(DialogResult::kCancel));
}

TEST(AboutBoxTest, ShowsNameVersionSoundSystemAndItsTwoPicturesAtTheirSizes) {
  QString title;
  QString text;
  QSize banner, emblem;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->findChild<QLabel*>("aboutText")->text();
    banner = box->findChild<QLabel*>("aboutBanner")->size();
    emblem = box->findChild<QLabel*>("aboutEmblem")->size();
    box->findChild<QAbstractButton*>("1")->click();
  });
  QPixmap bannerPicture(87, 57), emblemPicture(18, 18);
  bannerPicture.fill(Qt::darkGreen);
  emblemPicture.fill(Qt::red);
  EXPECT_EQ(runAboutBox(nullptr,
                        AboutContent{bannerPicture, emblemPicture, QStringLiteral("Simulated room"),
                                     QStringLiteral("speed of sound 347.1 m/s")}),
            DialogResult::kOk);
  EXPECT_EQ(title, "About");
  EXPECT_TRUE(text.contains("Mervane"));
  EXPECT_TRUE(text.contains(MERVANE_VERSION));
  EXPECT_TRUE(text.contains("Simulated room"));
  EXPECT_TRUE(text.contains("Distances: speed of sound 347.1 m/s"));
  EXPECT_EQ(banner, QSize(87, 57));
  EXPECT_EQ(emblem, QSize(18, 18));
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty() ||
              !QApplication::topLevelWidgets().front()->isVisible());
}

}  // namespace
