// Choosing the installer command, and the image-path form instances are compared in.
#include <gtest/gtest.h>

#include "base/text.h"
#include "process/image_path.h"
#include "process/installer_command.h"

namespace talvex {
namespace {

TEST(InstallerPackage, IsWindowsInstallerOnlyForAnMsiExtensionOfTheLastComponent) {
  const struct {
    const wchar_t* path;
    bool msi;
  } cases[] = {
      {L"C:\\Updates\\Setup.MSI", true},
      {L"setup.msi", true},
      {L"C:/Updates/app-2.0.Msi", true},
      {L"C:\\Updates\\setup.exe", false},
      {L"C:\\Updates\\setup", false},
      {L"C:\\Updates\\.msi", false},  // the whole name is a dot and "msi"
      {L".MSI", false},
      {L"C:\\Updates\\setup.msi.bak", false},  // a further extension follows
      {L"C:\\Updates\\setup.msix", false},
      {L"C:\\Updates\\setup.", false},
      {L"C:\\Updates.msi\\setup", false},    // only a directory has the extension
      {L"C:\\Updates\\setup.msi\\", false},  // no file name at all
      {L"", false},
      {L"C:\\Updates\\setup.MS\u0130", false},  // only ASCII letters fold
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(to_utf8(c.path));
    EXPECT_EQ(is_windows_installer_package(c.path), c.msi);
  }
}

TEST(InstallerPackage, CommandCarriesThePackageAsTextUnchangedOtherwise) {
  // Relative paths stay relative: the child resolves them against the inherited directory.
  const InstallerCommand exe = installer_command(L"updates\\setup");
  EXPECT_EQ(exe.program, L"updates\\setup");
  EXPECT_EQ(exe.arguments, (std::vector<std::wstring>{L"/UPDATE", L"/S", L"/R"}));
  // An unpaired surrogate is replaced, as in the log.
  const std::wstring odd = std::wstring(L"C:\\u\\s") + static_cast<wchar_t>(0xD800) + L".exe";
  EXPECT_EQ(installer_command(odd).program, L"C:\\u\\s\uFFFD.exe");
  const std::wstring odd_msi = std::wstring(L"C:\\u\\s") + static_cast<wchar_t>(0xDC00) + L".msi";
  EXPECT_EQ(installer_command(odd_msi).arguments.at(1), L"C:\\u\\s\uFFFD.msi");
}

TEST(NormalizeImagePath, StripsOnlyTheVerbatimPrefixAndLowerCases) {
  EXPECT_EQ(normalize_image_path(L"\\\\?\\C:\\Program Files\\APP.EXE"),
            "c:\\program files\\app.exe");
  EXPECT_EQ(normalize_image_path(L"\\\\?\\UNC\\Server\\Share\\App.exe"),
            "unc\\server\\share\\app.exe");
  EXPECT_EQ(normalize_image_path(L"\\\\.\\C:\\App.exe"), "\\\\.\\c:\\app.exe");
  EXPECT_EQ(normalize_image_path(L"\\\\?\\\\\\?\\C:\\A"), "\\\\?\\c:\\a");
  EXPECT_EQ(normalize_image_path(L"\\\\?"), "\\\\?");
  EXPECT_EQ(normalize_image_path(L"C:/Dir/../App.EXE"), "c:/dir/../app.exe");
  EXPECT_EQ(normalize_image_path(L""), "");
  // Non-ASCII letters too, with the final sigma before the separator and the extension.
  EXPECT_EQ(normalize_image_path(L"C:\\ΣΟΦΟΣ\\ΣΟΦΟΣ.EXE"), "c:\\σοφος\\σοφοσ.exe");
  EXPECT_EQ(normalize_image_path(L"C:\\İ\\App.exe"), "c:\\i\u0307\\app.exe");
  const wchar_t lone[] = {L'C', L':', L'\\', static_cast<wchar_t>(0xDC00), L'A', 0};
  EXPECT_EQ(normalize_image_path(lone),
            "c:\\\xEF\xBF\xBD"
            "a");
}

}  // namespace
}  // namespace talvex
