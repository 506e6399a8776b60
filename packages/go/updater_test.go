package updater

import (
	"errors"
	"os"
	"path/filepath"
	"reflect"
	"runtime"
	"strconv"
	"strings"
	"testing"
)

// Each row: the options and the field the first error names; "": valid, so the platform
// decides.
func TestArgumentsAreCheckedBeforeThePlatform(t *testing.T) {
	const ok = `C:\Apps\Demo\talvex-updater.exe`
	rows := []struct {
		options StartOptions
		field   string
	}{
		{StartOptions{}, "Installer"},
		{StartOptions{Installer: "setup.exe"}, "Installer"},
		{StartOptions{Installer: `\Downloads\setup.exe`}, "Installer"},
		{StartOptions{Installer: `C:setup.exe`}, "Installer"},
		{StartOptions{Installer: "C:\\set\x00up.exe"}, "Installer"},
		{StartOptions{Installer: "C:\\setup\xff.exe"}, "Installer"},
		{StartOptions{Installer: `C:\setup.exe`, Log: `logs\u.log`}, "Log"},
		{StartOptions{Installer: `C:\setup.exe`, AppExe: "Demo.exe"}, "AppExe"},
		{StartOptions{Installer: `C:\setup.exe`, UpdaterPath: `C:\Apps\talvex-updater.bat`}, "UpdaterPath"},
		{StartOptions{Installer: `C:\setup.exe`, UpdaterPath: `C:\Apps\.exe`}, "UpdaterPath"},
		{StartOptions{Installer: `C:\setup.exe`, UpdaterPath: "talvex-updater.exe"}, "UpdaterPath"},
		{StartOptions{Installer: `C:\Üsers\Zoë\セットアップ.exe`, Log: `\\server\share\u.log`, UpdaterPath: ok}, ""},
		{StartOptions{Installer: `c:/setup.exe`, Log: `//server/share/u.log`, AppExe: `C:\A.EXE`, UpdaterPath: ok}, ""},
	}
	for _, row := range rows {
		_, err := StartUpdater(row.options)
		var argument *ArgumentError
		switch {
		case row.field != "":
			if !errors.As(err, &argument) || argument.Field != row.field {
				t.Errorf("%q: %v, want an error naming %s", row.options.Installer, err, row.field)
			}
		case runtime.GOOS != "windows":
			if !errors.Is(err, ErrUnsupported) {
				t.Errorf("%q: %v", row.options.Installer, err)
			}
		case errors.As(err, &argument) || err == nil:
			t.Errorf("%q: %v, want the updater missing", row.options.Installer, err)
		}
	}
}

var tableFields = map[string]bool{"started": true, "finished": true, "installed": true,
	"status": true, "error": true, "relaunched": true, "app": true}

type logCase struct {
	name   string
	fields map[string]string
	log    *string // nil: no log file at all
}

func readCases(t *testing.T) []logCase {
	text, err := os.ReadFile(filepath.Join("..", "..", "tests", "handover", "last_update_cases.txt"))
	if err != nil {
		t.Fatal(err)
	}
	var cases []logCase
	inLog := false
	for _, line := range strings.Split(string(text), "\n") {
		if strings.HasPrefix(line, "== ") {
			cases = append(cases, logCase{name: line[3:], fields: map[string]string{}})
			inLog = false
			continue
		}
		if len(cases) == 0 {
			continue
		}
		c := &cases[len(cases)-1]
		switch {
		case inLog:
			*c.log += line + "\n"
		case line == "" || strings.HasPrefix(line, "#") || line == "log: none":
		case line == "log:":
			c.log, inLog = new(string), true
		default:
			field, value, _ := strings.Cut(line, ":")
			if !tableFields[field] {
				t.Fatalf("%s: unknown field %q", c.name, field)
			}
			c.fields[field] = strings.TrimSpace(value)
		}
	}
	// The blank lines that separate cases are no part of a log.
	for _, c := range cases {
		if c.log != nil {
			if *c.log = strings.TrimRight(*c.log, "\n"); *c.log != "" {
				*c.log += "\n"
			}
		}
	}
	return cases
}

func TestEveryCaseOfTheTable(t *testing.T) {
	dir := t.TempDir()
	cases := readCases(t)
	if len(cases) < 10 {
		t.Fatalf("%d cases", len(cases))
	}
	for i, c := range cases {
		log := filepath.Join(dir, strconv.Itoa(i)+".log")
		if c.log != nil {
			if err := os.WriteFile(log, []byte(*c.log), 0o644); err != nil {
				t.Fatal(err)
			}
		}
		var want *Outcome
		if c.fields["started"] != "no" {
			relaunched := c.fields["relaunched"]
			if relaunched == "none" {
				relaunched = ""
			}
			want = &Outcome{Finished: c.fields["finished"] == "yes", Installed: c.fields["installed"] == "yes",
				InstallerStatus: c.fields["status"], Error: c.fields["error"], RelaunchedBy: relaunched}
		}
		got, err := LastUpdate(log, c.fields["app"])
		if err != nil || !reflect.DeepEqual(got, want) {
			t.Errorf("%s: %+v %v, want %+v", c.name, got, err, want)
		}
	}
	if _, err := LastUpdate("", ""); err == nil {
		t.Error("an empty log path is a mistake, not \"no update\"")
	}
}
