// last_update against the table of log texts every kit's reader is held to.
use std::collections::BTreeMap;
use std::path::{Path, PathBuf};

use talvex_updater::{last_update, LastUpdate, Relauncher};

const FIELDS: [&str; 7] =
    ["started", "finished", "installed", "status", "error", "relaunched", "app"];

struct Case {
    name: String,
    fields: BTreeMap<String, String>,
    log: Option<String>, // None: no log file at all
}

fn read_cases() -> Vec<Case> {
    let table =
        Path::new(env!("CARGO_MANIFEST_DIR")).join("../../tests/handover/last_update_cases.txt");
    let text =
        std::fs::read_to_string(&table).unwrap_or_else(|e| panic!("{}: {e}", table.display()));
    let mut cases: Vec<Case> = Vec::new();
    let mut in_log = false;
    for line in text.split('\n') {
        if let Some(name) = line.strip_prefix("== ") {
            cases.push(Case { name: name.to_owned(), fields: BTreeMap::new(), log: None });
            in_log = false;
            continue;
        }
        let case = match cases.last_mut() {
            Some(case) => case,
            None => continue,
        };
        if in_log {
            case.log.as_mut().unwrap().push_str(&format!("{line}\n"));
        } else if line.is_empty() || line.starts_with('#') || line == "log: none" {
        } else if line == "log:" {
            case.log = Some(String::new());
            in_log = true;
        } else {
            let (field, value) =
                line.split_once(':').unwrap_or_else(|| panic!("{}: {line:?}", case.name));
            assert!(FIELDS.contains(&field), "{}: unknown field {field:?}", case.name);
            case.fields.insert(field.to_owned(), value.trim().to_owned());
        }
    }
    // The blank lines that separate cases are no part of a log.
    for case in &mut cases {
        if let Some(log) = &mut case.log {
            let kept = log.trim_end_matches('\n').len();
            log.truncate(kept);
            if kept > 0 {
                log.push('\n');
            }
        }
    }
    cases
}

fn expected(case: &Case) -> Option<LastUpdate> {
    let field = |name: &str| {
        case.fields.get(name).cloned().unwrap_or_else(|| panic!("{}: no {name}", case.name))
    };
    if field("started") == "no" {
        return None;
    }
    let text = |name: &str| Some(field(name)).filter(|value| !value.is_empty());
    Some(LastUpdate {
        finished: field("finished") == "yes",
        installed: field("installed") == "yes",
        installer_status: text("status"),
        error: text("error"),
        relaunched_by: match field("relaunched").as_str() {
            "none" => None,
            "updater" => Some(Relauncher::Updater),
            "installer" => Some(Relauncher::Installer),
            other => panic!("{}: relaunched {other:?}", case.name),
        },
    })
}

#[test]
fn every_case_of_the_table() {
    let dir = std::env::temp_dir().join(format!("talvex-rust-log-{}", std::process::id()));
    std::fs::create_dir_all(&dir).unwrap();
    let cases = read_cases();
    assert!(cases.len() >= 10, "{} cases", cases.len());
    for (index, case) in cases.iter().enumerate() {
        let log = dir.join(format!("{index}.log"));
        if let Some(text) = &case.log {
            std::fs::write(&log, text).unwrap();
        }
        let app = case.fields.get("app").map(PathBuf::from);
        assert_eq!(last_update(&log, app.as_deref()), expected(case), "{}", case.name);
    }
    std::fs::remove_dir_all(&dir).unwrap();
}
