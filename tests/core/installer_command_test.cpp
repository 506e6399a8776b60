// Choosing the installer command, and the image-path form instances are compared in.
#include <gtest/gtest.h>

#include "base/text.h"
#include "process/app_claim.h"
#include "process/image_path.h"
#include "process/installer_command.h"

namespace talvex {
namespace {

TEST(InstallerPackage, IsWindowsInstallerOnlyForAnMsiExtensionOfTheLastComponent) {
  const struct {
    const char16_t* path;
    bool msi;
  } cases[] = {
      {u"C:\\Updates\\Setup.MSI", true},
      {u"setup.msi", true},
      {u"C:/Updates/app-2.0.Msi", true},
      {u"C:\\Updates\\setup.exe", false},
      {u"C:\\Updates\\setup", false},
      {u"C:\\Updates\\.msi", false},  // the whole name is a dot and "msi"
      {u".MSI", false},
      {u"C:\\Updates\\setup.msi.bak", false},  // a further extension follows
      {u"C:\\Updates\\setup.msix", false},
      {u"C:\\Updates\\setup.", false},
      {u"C:\\Updates.msi\\setup", false},    // only a directory has the extension
      {u"C:\\Updates\\setup.msi\\", false},  // no file name at all
      {u"", false},
      {u"C:\\Updates\\setup.MS\u0130", false},  // only ASCII letters fold
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(to_utf8(c.path));
    EXPECT_EQ(is_windows_installer_package(c.path), c.msi);
  }
}

TEST(InstallerPackage, CommandCarriesThePackageAsTextUnchangedOtherwise) {
  // Relative paths stay relative: the child resolves them against the inherited directory.
  const InstallerCommand exe = installer_command(u"updates\\setup");
  EXPECT_EQ(exe.program, u"updates\\setup");
  EXPECT_EQ(exe.arguments, (std::vector<std::u16string>{u"/UPDATE", u"/S", u"/R"}));
  // An unpaired surrogate is replaced, as in the log.
  const std::u16string odd = u"C:\\u\\s\xD800.exe";
  EXPECT_EQ(installer_command(odd).program, u"C:\\u\\s\uFFFD.exe");
  const std::u16string odd_msi = u"C:\\u\\s\xDC00.msi";
  EXPECT_EQ(installer_command(odd_msi).arguments.at(1), u"C:\\u\\s\uFFFD.msi");
}

TEST(NormalizeImagePath, StripsOnlyTheVerbatimPrefixAndLowerCases) {
  EXPECT_EQ(normalize_image_path(u"\\\\?\\C:\\Program Files\\APP.EXE"),
            "c:\\program files\\app.exe");
  EXPECT_EQ(normalize_image_path(u"\\\\?\\UNC\\Server\\Share\\App.exe"),
            "unc\\server\\share\\app.exe");
  EXPECT_EQ(normalize_image_path(u"\\\\.\\C:\\App.exe"), "\\\\.\\c:\\app.exe");
  EXPECT_EQ(normalize_image_path(u"\\\\?\\\\\\?\\C:\\A"), "\\\\?\\c:\\a");
  EXPECT_EQ(normalize_image_path(u"\\\\?"), "\\\\?");
  EXPECT_EQ(normalize_image_path(u"C:/Dir/../App.EXE"), "c:/dir/../app.exe");
  EXPECT_EQ(normalize_image_path(u""), "");
  // Non-ASCII letters too, with the final sigma before the separator and the extension.
  EXPECT_EQ(normalize_image_path(u"C:\\ΣΟΦΟΣ\\ΣΟΦΟΣ.EXE"), "c:\\σοφος\\σοφοσ.exe");
  EXPECT_EQ(normalize_image_path(u"C:\\İ\\App.exe"), "c:\\i\u0307\\app.exe");
  EXPECT_EQ(normalize_image_path(u"C:\\\xDC00Z"), "c:\\\xEF\xBF\xBDz");
}

// One application, one claim name: the paths the running-instance check takes for one program
// share it, others do not, and any path length gives a name the system accepts.
TEST(AppClaimName, IsOneNamePerApplicationAsInstancesAreCompared) {
  const std::u16string app = app_claim_name(u"C:\\App\\app.exe");
  EXPECT_EQ(app_claim_name(u"c:\\app\\APP.EXE"), app);
  EXPECT_EQ(app_claim_name(u"\\\\?\\C:\\App\\app.exe"), app);
  EXPECT_NE(app_claim_name(u"C:\\App\\app2.exe"), app);
  EXPECT_NE(app_claim_name(u"C:\\Other\\app.exe"), app);
  EXPECT_EQ(app.rfind(u"Local\\", 0), 0u);
  // Kernel object names stop at MAX_PATH and may not hold a backslash past the namespace.
  const std::u16string deep = app_claim_name(u"C:\\" + std::u16string(32000, u'a') + u".exe");
  EXPECT_LT(deep.size(), 260u);
  EXPECT_EQ(deep.find(u'\\', 6), std::u16string::npos);
}

}  // namespace
}  // namespace talvex
