#include <gtest/gtest.h>
#include <unistd.h>

#include "test_helpers.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "audio/portaudio_backend.h"
#include "audio/sim_backend.h"
#include "gui/audio_choice.h"
#include "gui/single_instance.h"
#include "gui/toolbar_icons.h"
#include "resources/command_layout.h"

namespace {

TEST(SingleInstance, SecondStartAsksTheFirstToComeToTheFront) {
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("instance"));
  SingleInstance first(name);
  ASSERT_EQ(first.claim(), InstanceRole::kFirst);
  QSignalSpy activations(&first, &SingleInstance::activationRequested);

  SingleInstance second(name);
  EXPECT_EQ(second.claim(), InstanceRole::kAnotherIsRunning);
  EXPECT_TRUE(second.otherAnswered());
  EXPECT_TRUE(activations.count() > 0 || activations.wait(2000));
}

TEST(SingleInstance, FirstAgainOnceTheRunningOneHasEnded) {
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("instance"));
  {
    SingleInstance first(name);
    ASSERT_EQ(first.claim(), InstanceRole::kFirst);
  }
  SingleInstance next(name);
  EXPECT_EQ(next.claim(), InstanceRole::kFirst);
}

TEST(SingleInstance, SocketLeftBehindByACrashDoesNotBlockTheNextStart) {
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("instance"));
  QFile leftover(name);
  ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
  leftover.close();

  SingleInstance first(name);
  ASSERT_EQ(first.claim(), InstanceRole::kFirst);
  // The new first instance is reachable: a later start gets through to it.
  SingleInstance second(name);
  EXPECT_EQ(second.claim(), InstanceRole::kAnotherIsRunning);
  EXPECT_TRUE(second.otherAnswered());
}

// Without a runtime folder the lock goes to a folder of our own in the temporary folder; one of
// that name that someone else could write (or a link planted there) is not used.
TEST(SingleInstance, TheLockLivesOnlyWhereNobodyElseCanWrite) {
  QTemporaryDir shared;
  const QString tag = QStringLiteral("mervane-") + QString::number(::getuid());
  const QString own = privateFolder(QString(), shared.path());
  EXPECT_EQ(own, shared.filePath(tag));
  EXPECT_TRUE(isPrivateFolder(own));
  EXPECT_EQ(QFile::permissions(own) & (QFileDevice::WriteGroup | QFileDevice::WriteOther), 0);

  QTemporaryDir runtime;
  EXPECT_EQ(privateFolder(runtime.path(), shared.path()), runtime.path());

  QTemporaryDir planted;
  ASSERT_TRUE(QDir(planted.path()).mkdir(tag));
  QFile::setPermissions(planted.filePath(tag), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner | QFileDevice::WriteOther |
                                                   QFileDevice::ReadOther | QFileDevice::ExeOther);
  EXPECT_EQ(privateFolder(QString(), planted.path()), QString());
  QTemporaryDir linked;
  ASSERT_TRUE(QFile::link(own, linked.filePath(tag)));
  EXPECT_EQ(privateFolder(QString(), linked.path()), QString());
  EXPECT_EQ(privateFolder(linked.filePath(tag), linked.path()), QString());

  // No private folder: the program starts without a guard rather than not at all.
  SingleInstance unguarded{QString()};
  EXPECT_EQ(unguarded.claim(), InstanceRole::kFirst);
}

// A lock left by a run that crashed (its process is gone) does not keep the next one out.
TEST(SingleInstance, AStaleLockDoesNotBlock) {
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("instance"));
  QFile stale(name + QStringLiteral(".lock"));
  ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  stale.write(QByteArray::number(0x3FFFFFFF) + "\n" + QCoreApplication::applicationName().toUtf8() +
              "\n" + QSysInfo::machineHostName().toUtf8() + "\n");
  stale.close();
  SingleInstance next(name);
  EXPECT_EQ(next.claim(), InstanceRole::kFirst);
}

TEST(SingleInstance, StartsAllTheSameWhereNoLockCanBeWritten) {
  QTemporaryDir dir;
  SingleInstance first(dir.filePath(QStringLiteral("missing-folder/instance")));
  EXPECT_EQ(first.claim(200), InstanceRole::kFirst);
}

TEST(SingleInstance, NameIsPerUser) {
  const QString name = instanceName();
  EXPECT_FALSE(name.isEmpty());
  EXPECT_TRUE(name.contains(QStringLiteral("mervane")));
}

struct AudioEnvCase {
  const char* name;
  const char* audio;  // nullptr: unset
  const char* room;   // nullptr: unset
  bool soundCardReady;
  AudioRequest request;
  bool valid;
};

void PrintTo(const AudioEnvCase& c, std::ostream* out) {
  *out << c.name;
}

class AudioRequestTest : public ::testing::TestWithParam<AudioEnvCase> {};

TEST_P(AudioRequestTest, EnvironmentDecidesTheBackEnd) {
  const AudioEnvCase& c = GetParam();
  QProcessEnvironment env;
  if (c.audio != nullptr) env.insert(QStringLiteral("MERVANE_AUDIO"), QString::fromUtf8(c.audio));
  if (c.room != nullptr) env.insert(QStringLiteral("MERVANE_ROOM"), QString::fromUtf8(c.room));
  AudioRequest request = AudioRequest::kAutomatic;
  const std::string reason = readAudioRequest(env, request);
  EXPECT_EQ(reason.empty(), c.valid) << reason;
  if (c.valid) {
    EXPECT_EQ(request, c.request);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Environment, AudioRequestTest,
    ::testing::Values(
        AudioEnvCase{"NothingSet", nullptr, nullptr, false, AudioRequest::kAutomatic, true},
        AudioEnvCase{"Sim", "sim", nullptr, false, AudioRequest::kSimulatedRoom, true},
        AudioEnvCase{"PortAudio", "portaudio", nullptr, false, AudioRequest::kSoundCard, true},
        AudioEnvCase{"RoomImpliesSim", nullptr, "latency=5", false, AudioRequest::kSimulatedRoom,
                     true},
        AudioEnvCase{"UnknownBackEnd", "alsa", nullptr, false, AudioRequest::kAutomatic, false},
        AudioEnvCase{"RoomWithSoundCard", "portaudio", "latency=5", false, AudioRequest::kSoundCard,
                     false}),
    caseName<AudioEnvCase>);

bool noSoundCard() {
  return false;
}
bool soundCardReady() {
  return true;
}

struct ChoiceCase {
  const char* name;
  const char* audio;  // nullptr: unset
  bool (*ready)();
  AudioKind kind;
};

void PrintTo(const ChoiceCase& c, std::ostream* out) {
  *out << c.name;
}

class AudioChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(AudioChoiceTest, MakesTheBackEndOfItsKind) {
  const ChoiceCase& c = GetParam();
  QProcessEnvironment env;
  if (c.audio != nullptr) env.insert(QStringLiteral("MERVANE_AUDIO"), QString::fromUtf8(c.audio));
  AudioChoice choice;
  EXPECT_EQ(chooseAudio(env, c.ready, choice), "");
  EXPECT_EQ(choice.kind, c.kind);
  const bool simulated = dynamic_cast<SimBackend*>(choice.backend.get()) != nullptr;
  const bool soundCard = dynamic_cast<PortAudioBackend*>(choice.backend.get()) != nullptr;
  EXPECT_EQ(simulated, c.kind == AudioKind::kSimulatedRoom);
  EXPECT_EQ(soundCard, c.kind == AudioKind::kSoundCard);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, AudioChoiceTest,
    ::testing::Values(
        ChoiceCase{"NoSoundCardMeansTheRoom", nullptr, &noSoundCard, AudioKind::kSimulatedRoom},
        ChoiceCase{"ReadySoundCardIsUsed", nullptr, &soundCardReady, AudioKind::kSoundCard},
        ChoiceCase{"SimWinsOverASoundCard", "sim", &soundCardReady, AudioKind::kSimulatedRoom},
        // Asked for explicitly, the sound card is used even when none looks ready: its error
        // then tells the user why.
        ChoiceCase{"PortAudioAskedFor", "portaudio", &noSoundCard, AudioKind::kSoundCard}),
    caseName<ChoiceCase>);

// Needs the private PulseAudio server of scripts/pulse-test-server.sh (./test starts it), whose
// default devices are what a desktop with sound offers.
TEST(AudioChoice, WithDefaultDevicesTheSoundCardIsChosenByItself) {
  if (qEnvironmentVariable("MERVANE_PULSE_READY") != QLatin1String("1")) {
    if (qEnvironmentVariable("CI") == QLatin1String("true")) {
      FAIL() << "no PulseAudio test server is running";
    }
    GTEST_SKIP() << "no PulseAudio test server (./test starts one)";
  }
  EXPECT_TRUE(systemHasDefaultDevices());
  AudioChoice choice;
  EXPECT_EQ(chooseAudio(QProcessEnvironment(), &systemHasDefaultDevices, choice), "");
  EXPECT_EQ(choice.kind, AudioKind::kSoundCard);
}

TEST(AudioChoice, MalformedRoomIsReportedNotIgnored) {
  QProcessEnvironment env;
  env.insert(QStringLiteral("MERVANE_ROOM"), QStringLiteral("latency=fast"));
  AudioChoice choice;
  const std::string reason = chooseAudio(env, &noSoundCard, choice);
  EXPECT_NE(reason.find("MERVANE_ROOM"), std::string::npos) << reason;
  EXPECT_EQ(choice.backend, nullptr);
}

TEST(ToolbarImages, EveryButtonButTheEmptyOneHasAPicture) {
  auto paintedPixels = [](const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    }
    return count;
  };
  for (int i = 0; i < kToolbarImageCount; ++i) {
    if (i == 8) continue;  // "empty"
    const QImage image = renderToolbarImage(i, kToolbarImageSize);
    EXPECT_EQ(image.size(), QSize(18, 18));
    EXPECT_GT(paintedPixels(image), 20) << "image " << i;
  }
  EXPECT_EQ(paintedPixels(renderToolbarImage(8, 18)), 0);                   // "empty"
  EXPECT_EQ(paintedPixels(renderToolbarImage(kToolbarImageCount, 18)), 0);  // no such image
  EXPECT_EQ(paintedPixels(renderToolbarImage(-1, 18)), 0);
}

}  // namespace
