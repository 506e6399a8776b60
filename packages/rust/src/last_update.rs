//! What the application that starts after an update can learn about it: the outcome of the last
//! run in the updater's log. That application is started without arguments, so the log is all
//! it has.

use std::path::Path;

const START: &str = "=== talvex-updater start ===";
const DONE: &str = "=== talvex-updater done";
const INSTALLER_EXITED: &str = "installer exited: ";
const INSTALLER_RELAUNCHED: &str = "app already running (installer /R relaunched), skip";
const RELAUNCHED: &str = "relaunched ";
const INSTALLER_MISSING: &str = "ERROR: installer file missing";
// Without an installer the run ends with its relaunch attempt and writes no closing banner.
const RELAUNCH_ENDS: [&str; 3] = [RELAUNCHED, "ERROR: app exe missing", "ERROR: relaunch failed: "];
// A second updater for an application that is being updated writes this one line, without
// banners, between the lines of the run it defers to.
const REFUSED: &str = "ERROR: another update of this application is running; installer not run: ";

/// Who started the application again.
#[derive(Clone, Copy, Debug, PartialEq, Eq)]
pub enum Relauncher {
    Updater,
    Installer,
}

/// The outcome of one run of the updater.
#[derive(Clone, Debug, Default, PartialEq, Eq)]
pub struct LastUpdate {
    /// The run ended; false while it still runs, or if it was killed.
    pub finished: bool,
    /// The installer ended with exit code 0.
    pub installed: bool,
    /// "exit code: 0", "exit code: 0xc0000005"; `None` when the installer did not end by
    /// itself (or has not yet).
    pub installer_status: Option<String>,
    /// The run's first "ERROR: ..." line.
    pub error: Option<String>,
    /// Who started the application again, if anyone did.
    pub relaunched_by: Option<Relauncher>,
}

/// The message of one "[<seconds>] <message>" line; nothing for any other line (one cut short
/// when a writer was killed, say).
fn message_of(line: &str) -> Option<&str> {
    let rest = line.strip_prefix('[')?;
    let digits = rest.bytes().take_while(u8::is_ascii_digit).count();
    if digits == 0 {
        return None;
    }
    rest[digits..].strip_prefix("] ")
}

/// The application path of an options line, "installer=<path> app_exe=<path> wait_pid=<pid>".
/// Searched from the end: the installer's path may hold " app_exe=" itself.
fn app_exe_of(message: &str) -> Option<&str> {
    if !message.starts_with("installer=") {
        return None;
    }
    let pid = message.rfind(" wait_pid=")?;
    let app = message[..pid].rfind(" app_exe=")?;
    Some(&message[app + " app_exe=".len()..pid])
}

/// The form in which the updater compares executable paths: without a leading "\\?\" (only
/// that: "\\?\UNC\server\share" keeps its "UNC\"), lower-cased code point by code point.
/// The updater lowers a word-final capital sigma to a final sigma; folding both small sigmas
/// into one keeps every pair of paths it takes for one application equal here too.
fn comparable(path: &str) -> String {
    let path = path.strip_prefix(r"\\?\").unwrap_or(path);
    path.chars()
        .flat_map(char::to_lowercase)
        .map(|c| if c == '\u{3c2}' { '\u{3c3}' } else { c })
        .collect()
}

/// The last run in the log text `log` (UTF-8, as the updater writes it), from its start banner
/// up to the next one. With `app_exe`, the last run whose options name that application;
/// `None` when there is no such run.
pub fn parse_last_update(log: &str, app_exe: Option<&str>) -> Option<LastUpdate> {
    let messages: Vec<&str> = log
        .split('\n')
        .filter_map(message_of)
        .filter(|message| !message.starts_with(REFUSED))
        .collect();
    let wanted = app_exe.map(comparable);
    let mut end = messages.len();
    let run = loop {
        let start = messages[..end].iter().rposition(|m| *m == START)?;
        let run = &messages[start + 1..end];
        match &wanted {
            None => break run,
            Some(wanted) => {
                let named = run.iter().find_map(|m| app_exe_of(m));
                if named.map(comparable).as_ref() == Some(wanted) {
                    break run;
                }
            }
        }
        end = start;
    };

    let mut outcome = LastUpdate::default();
    let mut app_exe: Option<&str> = None;
    for &message in run {
        if app_exe.is_none() {
            if let Some(app) = app_exe_of(message) {
                app_exe = Some(app);
                continue;
            }
        }
        if let Some(status) = message.strip_prefix(INSTALLER_EXITED) {
            if outcome.installer_status.is_none() {
                outcome.installed = status == "exit code: 0";
                outcome.installer_status = Some(status.to_owned());
            }
        } else if message == INSTALLER_RELAUNCHED {
            outcome.relaunched_by = Some(Relauncher::Installer);
        } else if let Some(relaunched) = message.strip_prefix(RELAUNCHED) {
            // Another update writing to the same log relaunches another application.
            if app_exe.map_or(true, |app| app == relaunched) {
                outcome.relaunched_by = Some(Relauncher::Updater);
            }
        } else if message == DONE {
            outcome.finished = true;
        }
        if message.starts_with("ERROR: ") && outcome.error.is_none() {
            outcome.error = Some(message.to_owned());
        }
        if outcome.error.as_deref() == Some(INSTALLER_MISSING)
            && RELAUNCH_ENDS.iter().any(|end| message.starts_with(end))
        {
            outcome.finished = true;
        }
    }
    Some(outcome)
}

/// The last run in the log file at `log_path`, as [`parse_last_update`] reads it. A missing,
/// unreadable or foreign file gives `None`; the updater may be appending to it meanwhile.
pub fn last_update(log_path: impl AsRef<Path>, app_exe: Option<&Path>) -> Option<LastUpdate> {
    // std opens files for reading with every sharing mode, so the updater can go on appending.
    let bytes = std::fs::read(log_path).ok()?;
    let text = String::from_utf8_lossy(&bytes);
    let app_exe = app_exe.map(|path| path.to_string_lossy());
    parse_last_update(&text, app_exe.as_deref())
}
