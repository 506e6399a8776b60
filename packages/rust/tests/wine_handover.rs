// A whole handover through this crate on Windows (run under Wine by the project's tests, with
// TALVEX_TEST_UPDATER naming the updater to hand over to; without it, it does nothing). It
// lays out an application folder with a hostile name and runs a copy of itself there as the
// application ("app <work dir>"), which hands over for every row and for the real update,
// prints what it got and exits; then it checks the updater's logs. The installer and the
// relaunched application are copies of it too: with TALVEX_TEST_CHILD set they exit at once.
use std::path::{Path, PathBuf};
use std::process::{Command, Stdio};
use std::time::{Duration, Instant};

use talvex_updater::{last_update, start_updater, Relauncher, StartOptions};

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

// The application (with the updater beside it), the installer, the real update's log.
fn layout(work: &Path) -> [PathBuf; 3] {
    let install = work.join(" Rüst & 100% ^ %TEMP%").join("Prögram Äpps");
    let setup = work.join("Downloads %PATH% & ^ été").join("Demo Setup 2.0.exe");
    [install.join("Demo App.exe"), setup, install.join("logs ü").join("talvex-updater.log")]
}

// The rows, then the real update with the defaults (this executable, the updater beside it).
fn handovers(work: &Path) -> Vec<StartOptions> {
    let [app, setup, log] = layout(work);
    let mut all: Vec<StartOptions> = (0..HOSTILE.len())
        .map(|i| StartOptions {
            installer: HOSTILE[i].into(),
            log: Some(work.join("rows & ^ % ü").join(format!("row {i} %{i}% ^&.log"))),
            app_exe: Some(HOSTILE[HOSTILE.len() - 1 - i].into()),
            updater_path: Some(app.with_file_name("talvex-updater.exe")),
        })
        .collect();
    all.push(StartOptions { log: Some(log), ..StartOptions::new(setup) });
    all
}

fn messages(log: &Path) -> Vec<String> {
    let text = String::from_utf8_lossy(&std::fs::read(log).unwrap_or_default()).into_owned();
    text.lines().filter_map(|l| l.split_once("] ").map(|(_, m)| m.to_owned())).collect()
}

fn eventually(limit: Duration, mut done: impl FnMut() -> bool) -> bool {
    let start = Instant::now();
    while !done() && start.elapsed() < limit {
        std::thread::sleep(Duration::from_millis(200));
    }
    done()
}

fn driver(updater: &Path) {
    // Not the current directory: cargo runs tests in the package's sources.
    let work = std::env::temp_dir().join(format!("talvex rust handover {}", std::process::id()));
    let [app, setup, log] = layout(&work);
    let all = handovers(&work);
    for file in [&app, &setup, &log, all[0].log.as_ref().unwrap()] {
        std::fs::create_dir_all(file.parent().unwrap()).unwrap();
    }
    let me = std::env::current_exe().unwrap();
    for (from, to) in
        [(updater, app.with_file_name("talvex-updater.exe")), (&me, app.clone()), (&me, setup)]
    {
        std::fs::copy(from, to).unwrap();
    }
    let mut child = Command::new(&app);
    child.args(["app".as_ref(), work.as_os_str()]).env("TALVEX_TEST_CHILD", "1");
    let child = child.stdout(Stdio::piped()).spawn().unwrap();
    let pid = child.id();
    let output = child.wait_with_output().unwrap();
    // Its output ends when it does: no updater holds the pipe. The real one runs on for
    // seconds (waiting, installing, its pause), so an end seen before it finished is the
    // application's own.
    let finished = || last_update(&log, None).map_or(false, |u| u.finished);
    assert!(!finished(), "the application's output stayed open after it exited");
    let stdout = String::from_utf8_lossy(&output.stdout).into_owned();
    assert!(output.status.success() && stdout.lines().count() == all.len(), "{stdout}");
    assert!(eventually(Duration::from_secs(90), finished), "{:?}", messages(&log));

    let mut failures = Vec::new();
    for (options, started) in all.iter().zip(stdout.lines()) {
        let logged = |path: &Path| -> String {
            let text = path.to_str().unwrap();
            text.chars()
                .map(|c| if c < ' ' { format!("<U+{:04X}>", c as u32) } else { c.into() })
                .collect()
        };
        let app = options.app_exe.as_deref().unwrap_or(&app);
        let want = format!(
            "installer={} app_exe={} wait_pid=Some({pid})",
            logged(&options.installer),
            logged(app)
        );
        let row_log = options.log.as_deref().unwrap();
        eventually(Duration::from_secs(10), || messages(row_log).len() >= 2);
        if messages(row_log).get(1) != Some(&want) {
            failures
                .push(format!("want {want}\ngot  {:?}\nfrom {started}", messages(row_log).get(1)));
        }
    }
    // The real update: the updater waited for the application, the installer ran, and the
    // updater started the application again; the reader finds it by the application's path.
    let outcome = last_update(&log, Some(Path::new(&app.to_str().unwrap().to_uppercase())));
    if !messages(&log).contains(&format!("main process {pid} exited"))
        || !outcome
            .as_ref()
            .map_or(false, |u| u.installed && u.relaunched_by == Some(Relauncher::Updater))
    {
        failures.push(format!("real update: {outcome:?} {:?}", messages(&log)));
    }
    assert!(failures.is_empty(), "{}", failures.join("\n"));
    // A relaunched copy may still be exiting; what it holds goes with the prefix.
    std::fs::remove_dir_all(&work).ok();
    println!("{} handovers read back exactly; the real update installed and relaunched", all.len());
}

fn main() {
    let args: Vec<String> = std::env::args().collect();
    if std::env::var_os("TALVEX_TEST_CHILD").is_some() {
        if args.len() == 3 && args[1] == "app" {
            for options in handovers(Path::new(&args[2])) {
                let started = start_updater(&options).expect("start_updater");
                println!("started {} {}", started.pid, started.command_line);
            }
        }
    } else if let Some(updater) = std::env::var_os("TALVEX_TEST_UPDATER") {
        driver(Path::new(&updater));
    } else {
        println!("whole handover skipped: TALVEX_TEST_UPDATER names no talvex-updater.exe");
    }
}
