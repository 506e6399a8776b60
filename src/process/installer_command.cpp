#include "process/installer_command.h"

#include "base/path.h"
#include "base/text.h"

namespace talvex {

std::string installer_command_text(const InstallerCommand& command) {
  std::string text = to_utf8(command.program);
  for (const std::u16string& argument : command.arguments) {
    text += ' ';
    text += to_utf8(argument);
  }
  return text;
}

bool is_windows_installer_package(std::u16string_view installer) {
  const std::u16string_view name = last_component(installer);
  const size_t dot = name.find_last_of(u'.');
  // A leading dot marks a hidden-style name (".msi"), not an extension.
  if (dot == std::u16string_view::npos || dot == 0) return false;
  return ascii_iequals(name.substr(dot + 1), u"msi");
}

InstallerCommand installer_command(std::u16string_view installer) {
  // The package is handed on in its text form, the same text the log shows: an unpaired
  // surrogate (possible in a Windows file name) becomes U+FFFD. The path is not made absolute;
  // the child inherits the updater's current directory.
  std::u16string package = to_utf16(to_utf8(installer));
  if (is_windows_installer_package(installer)) {
    return {u"msiexec.exe", {u"/i", std::move(package), u"/passive", u"/norestart"}};
  }
  return {std::move(package), {u"/UPDATE", u"/S", u"/R"}};
}

}  // namespace talvex
