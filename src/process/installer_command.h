// Choosing how an installer package is run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace talvex {

// The program and arguments chosen for an installer package.
struct InstallerCommand {
  std::u16string program;
  std::vector<std::u16string> arguments;
};

// True for a Windows Installer package: the last path component's text after its last dot is
// "msi" in any ASCII letter case, and that dot does not begin the component.
[[nodiscard]] bool is_windows_installer_package(std::u16string_view installer);

// "msiexec.exe /i <package> /passive /norestart" for a Windows Installer package, otherwise
// "<installer> /UPDATE /S /R".
[[nodiscard]] InstallerCommand installer_command(std::u16string_view installer);

// The command as the log shows it: program and arguments joined by single spaces, unquoted, so
// that a reader sees the paths as they are rather than as the child's C runtime wants them.
[[nodiscard]] std::string installer_command_text(const InstallerCommand& command);

}  // namespace talvex
