// One QApplication for the whole run, offscreen unless the environment names a platform. The
// window's remembered choices go to a temporary folder and are forgotten before every test.
#include <gmock/gmock.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

namespace {

class ForgetSettings : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { QSettings().clear(); }
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Brelin"));
  QApplication::setApplicationName(QStringLiteral("BrelinTest"));
  // A death test's child runs this again: it takes its parent's folder, so the parent can read what
  // the child saved.
  QTemporaryDir folder;
  if (qEnvironmentVariableIsEmpty("BRELIN_TEST_SETTINGS")) {
    qputenv("BRELIN_TEST_SETTINGS", folder.path().toLocal8Bit());
  }
  const QString settings = qEnvironmentVariable("BRELIN_TEST_SETTINGS");
  // Get Data keeps its readings in the user's data folder: here, that is this folder.
  qputenv("XDG_DATA_HOME", settings.toLocal8Bit());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings);
  testing::InitGoogleMock(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new ForgetSettings);
  return RUN_ALL_TESTS();
}
