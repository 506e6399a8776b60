//! Hands a Windows application over to talvex-updater, which waits for the application to exit,
//! runs the downloaded installer and starts the application again; and reads the outcome of the
//! last update back from the updater's log on the next start.
//!
//! ```no_run
//! let options = talvex_updater::StartOptions::new(r"C:\Users\ann\Downloads\Setup 2.0.exe");
//! match talvex_updater::start_updater(&options) {
//!     Ok(_) => std::process::exit(0), // the updater waits for this process to end
//!     Err(error) => eprintln!("no update this time: {error}"),
//! }
//! ```

use std::ffi::OsStr;
use std::fmt;
use std::io;
use std::path::PathBuf;

mod last_update;
#[cfg(windows)]
mod windows;

pub use last_update::{last_update, parse_last_update, LastUpdate, Relauncher};

/// The updater's file name, beside the application's executable by default.
pub const UPDATER_EXE: &str = "talvex-updater.exe";

/// What to hand over. Only `installer` is required.
#[derive(Clone, Debug, Default, PartialEq, Eq)]
pub struct StartOptions {
    /// Absolute path of the downloaded installer (`.exe`, or `.msi` for Windows Installer).
    pub installer: PathBuf,
    /// Absolute path of the log file; `None`: the updater's default.
    pub log: Option<PathBuf>,
    /// The executable to start again; `None`: this process's own image.
    pub app_exe: Option<PathBuf>,
    /// The updater to start; `None`: `talvex-updater.exe` beside `app_exe`.
    pub updater_path: Option<PathBuf>,
}

impl StartOptions {
    pub fn new(installer: impl Into<PathBuf>) -> Self {
        StartOptions { installer: installer.into(), ..StartOptions::default() }
    }
}

/// The updater that was started.
#[derive(Clone, Debug, PartialEq, Eq)]
pub struct Started {
    /// Its process id.
    pub pid: u32,
    /// The whole command line it received.
    pub command_line: String,
}

/// Why nothing was started.
#[derive(Debug)]
#[non_exhaustive]
pub enum Error {
    /// `field` of the options cannot be handed over as it is.
    InvalidArgument { field: &'static str, reason: String },
    /// The updater runs on Windows only.
    Unsupported { platform: &'static str },
    /// The updater is not at `path`.
    UpdaterMissing { path: PathBuf, source: io::Error },
    /// The system refused to start the updater (or to tell this process's own image path).
    Spawn(io::Error),
}

impl fmt::Display for Error {
    fn fmt(&self, f: &mut fmt::Formatter<'_>) -> fmt::Result {
        match self {
            Error::InvalidArgument { field, reason } => {
                write!(f, "talvex-updater: {field} {reason}")
            }
            Error::Unsupported { platform } => {
                write!(f, "talvex-updater: runs on Windows only, not on {platform}")
            }
            Error::UpdaterMissing { path, source } => {
                write!(f, "talvex-updater: the updater is missing: {} ({source})", path.display())
            }
            Error::Spawn(source) => {
                write!(f, "talvex-updater: the updater could not be started: {source}")
            }
        }
    }
}

impl std::error::Error for Error {
    fn source(&self) -> Option<&(dyn std::error::Error + 'static)> {
        match self {
            Error::UpdaterMissing { source, .. } | Error::Spawn(source) => Some(source),
            _ => None,
        }
    }
}

fn invalid(field: &'static str, reason: impl Into<String>) -> Error {
    Error::InvalidArgument { field, reason: reason.into() }
}

/// Checks that `value` reaches the updater exactly: text the updater can read back (Windows
/// paths are UTF-16, so neither bytes that are no UTF-8 nor an unpaired surrogate survive), no
/// NUL (it would end the command line), and a path that reads the same from any current
/// directory ("C:\..." or "\\server\..."; "\dir" and "C:dir" depend on the current drive or
/// directory, which the updater does not share).
fn check_path<'a>(field: &'static str, value: &'a OsStr) -> Result<&'a str, Error> {
    if value.is_empty() {
        return Err(invalid(field, "must not be empty"));
    }
    let text = value.to_str().ok_or_else(|| invalid(field, "is not valid Unicode"))?;
    if text.contains('\0') {
        return Err(invalid(field, "contains a NUL character"));
    }
    let bytes = text.as_bytes();
    let drive = bytes.len() >= 3
        && bytes[0].is_ascii_alphabetic()
        && bytes[1] == b':'
        && matches!(bytes[2], b'\\' | b'/');
    let unc =
        bytes.len() >= 2 && matches!(bytes[0], b'\\' | b'/') && matches!(bytes[1], b'\\' | b'/');
    if !drive && !unc {
        return Err(invalid(
            field,
            format!("must be an absolute path (\"C:\\...\" or \"\\\\server\\...\"): {text}"),
        ));
    }
    Ok(text)
}

/// The updater is started directly, never through a shell: Windows runs a batch file (or a
/// program named otherwise) through cmd.exe or another handler.
fn check_updater(value: &OsStr) -> Result<&str, Error> {
    let text = check_path("updater_path", value)?;
    let name = text.rsplit(|c| c == '\\' || c == '/').next().unwrap_or(text);
    if name.len() <= 4 || !name[name.len() - 4..].eq_ignore_ascii_case(".exe") {
        return Err(invalid("updater_path", format!("must name an .exe file: {text}")));
    }
    Ok(text)
}

/// Quotes one argument so that the child's C runtime (and the updater, which follows the same
/// rules) reads it back as exactly one argument with exactly this text.
#[cfg_attr(not(windows), allow(dead_code))]
fn quote_argument(argument: &str) -> String {
    if !argument.is_empty() && !argument.contains(|c| matches!(c, ' ' | '\t' | '\n' | '\x0b' | '"'))
    {
        return argument.to_owned();
    }
    // Backslashes are literal except in front of a double quote, where 2n backslashes mean n
    // and an odd count escapes the quote. So a run of backslashes is doubled when a quote follows
    // it, including the closing quote added here ("C:\Dir\" would otherwise swallow it).
    let mut quoted = String::with_capacity(argument.len() + 2);
    quoted.push('"');
    let mut backslashes = 0;
    for c in argument.chars() {
        if c == '\\' {
            backslashes += 1;
            continue;
        }
        let count = if c == '"' { backslashes * 2 + 1 } else { backslashes };
        quoted.extend(std::iter::repeat('\\').take(count));
        backslashes = 0;
        quoted.push(c);
    }
    quoted.extend(std::iter::repeat('\\').take(backslashes * 2));
    quoted.push('"');
    quoted
}

/// The arguments after the program name, quoted: "--installer", "--app-exe", "--wait-pid" and,
/// with a log, "--log", each followed by its value.
#[cfg_attr(not(windows), allow(dead_code))]
fn updater_arguments(installer: &str, app_exe: &str, pid: u32, log: Option<&str>) -> String {
    let pid = pid.to_string();
    let mut pairs = vec![("--installer", installer), ("--app-exe", app_exe), ("--wait-pid", &pid)];
    if let Some(log) = log {
        pairs.push(("--log", log));
    }
    let quoted: Vec<String> = pairs
        .iter()
        .flat_map(|(option, value)| [option.to_string(), quote_argument(value)])
        .collect();
    quoted.join(" ")
}

/// The longest command line CreateProcessW accepts, in UTF-16 units with its terminating NUL.
#[cfg_attr(not(windows), allow(dead_code))]
const MAX_COMMAND_LINE: usize = 32767;

/// Starts the updater detached, with the installer to run, the application's image path and
/// this process's id, and returns at once: the caller then exits, and the updater, which waits
/// for this process, installs and starts the application again.
///
/// The options are checked first on every platform, so that a mistake shows in tests on any
/// host; on a platform other than Windows the result is then [`Error::Unsupported`].
pub fn start_updater(options: &StartOptions) -> Result<Started, Error> {
    let installer = check_path("installer", options.installer.as_os_str())?;
    let log = options.log.as_deref().map(|log| check_path("log", log.as_os_str())).transpose()?;
    if let Some(app_exe) = &options.app_exe {
        check_path("app_exe", app_exe.as_os_str())?;
    }
    if let Some(updater) = &options.updater_path {
        check_updater(updater.as_os_str())?;
    }
    start_checked(options, installer, log)
}

#[cfg(not(windows))]
fn start_checked(_: &StartOptions, _: &str, _: Option<&str>) -> Result<Started, Error> {
    Err(Error::Unsupported { platform: std::env::consts::OS })
}

#[cfg(windows)]
fn start_checked(
    options: &StartOptions,
    installer: &str,
    log: Option<&str>,
) -> Result<Started, Error> {
    let own_image;
    let app_exe = match &options.app_exe {
        Some(app_exe) => app_exe.as_path(),
        None => {
            own_image = windows::own_image_path().map_err(Error::Spawn)?;
            own_image.as_path()
        }
    };
    let app_text = check_path("app_exe", app_exe.as_os_str())?;
    let default_updater;
    let updater = match &options.updater_path {
        Some(updater) => updater.as_path(),
        None => {
            default_updater = app_exe.parent().unwrap_or(app_exe).join(UPDATER_EXE);
            default_updater.as_path()
        }
    };
    let updater_text = check_updater(updater.as_os_str())?;
    let metadata = std::fs::metadata(updater)
        .map_err(|source| Error::UpdaterMissing { path: updater.to_owned(), source })?;
    if !metadata.is_file() {
        let source = io::Error::new(io::ErrorKind::Other, "not a file");
        return Err(Error::UpdaterMissing { path: updater.to_owned(), source });
    }
    let pid = std::process::id();
    let arguments = updater_arguments(installer, app_text, pid, log);
    // The program name is parsed by other rules (quotes only toggle, no escapes), and a Windows
    // path cannot hold a double quote, so plain quotes are right for it.
    let command_line = format!("\"{updater_text}\" {arguments}");
    if command_line.encode_utf16().count() >= MAX_COMMAND_LINE {
        return Err(invalid(
            "installer",
            "and the other paths make a command line longer than Windows allows",
        ));
    }
    let pid = windows::spawn_detached(updater, &command_line).map_err(Error::Spawn)?;
    Ok(Started { pid, command_line })
}

#[cfg(test)]
mod tests {
    use super::*;

    // Each row: the options (installer, log, app_exe, updater_path) and the field the first
    // error names; None: valid, so the platform decides.
    #[test]
    fn arguments_are_checked_before_the_platform() {
        let ok = r"C:\Apps\Demo\talvex-updater.exe";
        #[rustfmt::skip]
        let rows: &[(&str, Option<&str>, Option<&str>, Option<&str>, Option<&str>)] = &[
            ("", None, None, None, Some("installer")),
            ("setup.exe", None, None, None, Some("installer")),
            (r"\Downloads\setup.exe", None, None, None, Some("installer")),
            (r"C:setup.exe", None, None, None, Some("installer")),
            ("C:\\set\0up.exe", None, None, None, Some("installer")),
            (r"C:\setup.exe", Some("logs\\u.log"), None, None, Some("log")),
            (r"C:\setup.exe", Some(""), None, None, Some("log")),
            (r"C:\setup.exe", None, Some("Demo.exe"), None, Some("app_exe")),
            (r"C:\setup.exe", None, None, Some(r"C:\Apps\talvex-updater.bat"), Some("updater_path")),
            (r"C:\setup.exe", None, None, Some(r"C:\Apps\.exe"), Some("updater_path")),
            (r"C:\setup.exe", None, None, Some("talvex-updater.exe"), Some("updater_path")),
            (r"C:\Üsers\Zoë\セットアップ.exe", Some(r"\\server\share\u.log"), None, Some(ok), None),
            (r"c:/setup.exe", Some(r"//server/share/u.log"), Some(r"C:\A.EXE"), Some(ok), None),
        ];
        for (installer, log, app_exe, updater, field) in rows {
            let options = StartOptions {
                installer: PathBuf::from(installer),
                log: log.map(PathBuf::from),
                app_exe: app_exe.map(PathBuf::from),
                updater_path: updater.map(PathBuf::from),
            };
            match (start_updater(&options), field) {
                (Err(Error::InvalidArgument { field: got, .. }), Some(want)) => {
                    assert_eq!(got, *want, "{installer:?}")
                }
                #[cfg(not(windows))]
                (Err(Error::Unsupported { .. }), None) => {}
                #[cfg(windows)]
                (Err(Error::UpdaterMissing { .. }), None) => {}
                (other, _) => panic!("{installer:?}: {other:?}"),
            }
        }
    }

    // Bytes that are no UTF-8 cannot become a Windows path the updater reads back.
    #[cfg(unix)]
    #[test]
    fn a_path_that_is_no_text_is_refused() {
        use std::os::unix::ffi::OsStrExt;
        let options = StartOptions::new(OsStr::from_bytes(b"C:\\setup\xff.exe"));
        assert!(matches!(
            start_updater(&options),
            Err(Error::InvalidArgument { field: "installer", .. })
        ));
    }

    // An unpaired surrogate in a Windows path would arrive as U+FFFD.
    #[cfg(windows)]
    #[test]
    fn a_path_that_is_no_text_is_refused() {
        use std::os::windows::ffi::OsStringExt;
        let path: Vec<u16> =
            r"C:\setup".encode_utf16().chain([0xd800]).chain(".exe".encode_utf16()).collect();
        let options = StartOptions::new(std::ffi::OsString::from_wide(&path));
        assert!(matches!(
            start_updater(&options),
            Err(Error::InvalidArgument { field: "installer", .. })
        ));
    }
}
