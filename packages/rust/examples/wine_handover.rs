// A whole handover through this crate on Windows (run under Wine by the project's tests):
//   wine_handover driver <talvex-updater.exe>   sets up an application folder with a hostile
//                                                name, runs a copy of itself there as the
//                                                application, then checks the updater's logs
//   wine_handover app <work dir>                 the application: hands over for every row and
//                                                for the real update, prints what it got, exits
//   anything else                                exits 0: the installer ("/UPDATE /S /R") and
//                                                the relaunched application are copies of this
use std::path::{Path, PathBuf};
use std::process::{Command, Stdio};
use std::time::{Duration, Instant};

use talvex_updater::{last_update, start_updater, Relauncher, StartOptions};

struct Layout {
    app: PathBuf,
    updater: PathBuf,
    setup: PathBuf,
    log: PathBuf,
    rows: PathBuf,
}

fn layout(work: &Path) -> Layout {
    let install = work.join(" Rüst & 100% ^ %TEMP%").join("Prögram Äpps").join("Demo");
    Layout {
        app: install.join("Demo App.exe"),
        updater: install.join("talvex-updater.exe"),
        setup: work.join("Downloads %PATH% & ^ été").join("Demo Setup 2.0.exe"),
        log: install.join("logs ü").join("talvex-updater.log"),
        rows: work.join("rows & ^ % ü"),
    }
}

// Paths no installer or application lies at, so each updater logs its options, finds neither
// file and ends at once; each row's application is another row's installer.
const HOSTILE: [&str; 11] = [
    r"C:\Program Files\Vendor App\setup 2.0.exe",
    r#"C:\a "quoted" name\setup.exe"#,
    r"C:\trailing backslash\",
    r"C:\trailing backslashes\\",
    r#"C:\no_spaces_but\"quote"#,
    r#"C:\quote after backslashes\\\"x"#,
    r"C:\%PATH%\100% done.exe",
    r"C:\^caret^ & ampersand &&\|pipe| <lt> >gt>.exe",
    "C:\\Ünïcødé\\中文\\\u{1F600}.exe",
    "C:\\tab\there.exe",
    r"C:\ends in space ",
];

fn row(layout: &Layout, i: usize) -> StartOptions {
    StartOptions {
        installer: HOSTILE[i].into(),
        log: Some(layout.rows.join(format!("row {i} %{i}% ^&.log"))),
        app_exe: Some(HOSTILE[HOSTILE.len() - 1 - i].into()),
        updater_path: Some(layout.updater.clone()),
    }
}

fn app(work: &Path) {
    let layout = layout(work);
    let rows = (0..HOSTILE.len()).map(|i| row(&layout, i));
    // Last, the real one, with the defaults: this executable and the updater beside it.
    let real = StartOptions { log: Some(layout.log.clone()), ..StartOptions::new(&layout.setup) };
    for options in rows.chain([real]) {
        let started = start_updater(&options).expect("start_updater");
        println!("started {} {}", started.pid, started.command_line);
    }
}

// A path as the log shows it: control characters in their visible "<U+0009>" form.
fn as_logged(path: &str) -> String {
    path.chars()
        .map(|c| if (c as u32) < 0x20 || c == '\x7f' { format!("<U+{:04X}>", c as u32) } else { c.to_string() })
        .collect()
}

fn messages(log: &Path) -> Vec<String> {
    let text = String::from_utf8_lossy(&std::fs::read(log).unwrap_or_default()).into_owned();
    text.lines().filter_map(|l| l.split_once("] ").map(|(_, m)| m.to_owned())).collect()
}

fn eventually(limit: Duration, mut done: impl FnMut() -> bool) -> bool {
    let start = Instant::now();
    while !done() {
        if start.elapsed() > limit {
            return false;
        }
        std::thread::sleep(Duration::from_millis(200));
    }
    true
}

fn driver(updater: &Path) {
    let work = std::env::current_dir().unwrap().join(format!("rust-handover-{}", std::process::id()));
    let layout = layout(&work);
    for dir in [layout.app.parent(), layout.setup.parent(), layout.log.parent(), Some(layout.rows.as_path())] {
        std::fs::create_dir_all(dir.unwrap()).unwrap();
    }
    let me = std::env::current_exe().unwrap();
    std::fs::copy(updater, &layout.updater).unwrap();
    std::fs::copy(&me, &layout.app).unwrap();
    std::fs::copy(&me, &layout.setup).unwrap();

    let child = Command::new(&layout.app).arg("app").arg(&work).stdin(Stdio::null()).stdout(Stdio::piped()).spawn().unwrap();
    let pid = child.id();
    let output = child.wait_with_output().unwrap();
    // Its output ends when it does: no updater holds the pipe. The real one runs on for
    // seconds (waiting, installing, its pause), so an end seen before it finished is the
    // application's own.
    let ended_first = last_update(&layout.log, None).map_or(true, |u| !u.finished);
    let stdout = String::from_utf8(output.stdout).unwrap();
    assert!(output.status.success(), "application failed: {stdout}");
    assert!(ended_first, "the application's output stayed open after it exited");
    let lines: Vec<&str> = stdout.lines().collect();
    assert_eq!(lines.len(), HOSTILE.len() + 1, "{stdout}");

    assert!(
        eventually(Duration::from_secs(90), || last_update(&layout.log, None).map_or(false, |u| u.finished)),
        "the real update did not finish: {:?}",
        messages(&layout.log)
    );
    let mut failures = Vec::new();
    if !messages(&layout.log).contains(&format!("main process {pid} exited")) {
        failures.push(format!("the updater did not wait for {pid}: {:?}", messages(&layout.log)));
    }
    let app_text = layout.app.to_str().unwrap();
    for i in 0..=HOSTILE.len() {
        let (options, app) = if i < HOSTILE.len() {
            let options = row(&layout, i);
            let app = options.app_exe.clone().unwrap();
            (options, app)
        } else {
            (StartOptions { log: Some(layout.log.clone()), ..StartOptions::new(&layout.setup) }, layout.app.clone())
        };
        let log = options.log.as_ref().unwrap();
        let want = format!(
            "installer={} app_exe={} wait_pid=Some({pid})",
            as_logged(options.installer.to_str().unwrap()),
            as_logged(app.to_str().unwrap())
        );
        let got = if eventually(Duration::from_secs(10), || messages(log).len() >= 2) { messages(log)[1].clone() } else { String::new() };
        if got != want {
            failures.push(format!("{:?}:\n  want {want}\n  got  {got}\n  from {}", options.installer, lines[i]));
        }
        if i < HOSTILE.len() {
            let outcome = last_update(log, None);
            if outcome.as_ref().map(|u| (u.finished, u.error.as_deref())) != Some((true, Some("ERROR: installer file missing"))) {
                failures.push(format!("{:?}: {outcome:?}", options.installer));
            }
        }
    }
    // The real update: the installer ran, and the updater started the application again.
    let outcome = last_update(&layout.log, Some(Path::new(&app_text.to_uppercase()))).expect("outcome");
    if !(outcome.installed && outcome.relaunched_by == Some(Relauncher::Updater) && outcome.error.is_none()) {
        failures.push(format!("real update: {outcome:?} {:?}", messages(&layout.log)));
    }
    if last_update(&layout.log, Some(Path::new(HOSTILE[0]))).is_some() {
        failures.push("another application's outcome was reported".into());
    }
    assert!(failures.is_empty(), "{}", failures.join("\n"));
    println!("{} handovers read back exactly; the real update installed and relaunched", lines.len());
}

fn main() {
    let args: Vec<String> = std::env::args().collect();
    match args.get(1).map(String::as_str) {
        Some("driver") => driver(Path::new(&args[2])),
        Some("app") => app(Path::new(&args[2])),
        _ => {}
    }
}
