package updater

// A whole handover through this package under Windows (run under Wine by the project's tests):
// the test copies itself into an application folder with a hostile name and runs the copy as
// the application, which hands over for every row and for the real update and exits; the
// updater's logs must then read every value back exactly. The installer and the relaunched
// application are copies of this program too: with TALVEX_TEST_CHILD set they exit at once.

import (
	"bufio"
	"bytes"
	"fmt"
	"io"
	"os"
	"os/exec"
	"path/filepath"
	"strconv"
	"strings"
	"testing"
	"time"
)

func TestMain(m *testing.M) {
	if os.Getenv("TALVEX_TEST_CHILD") != "" {
		if len(os.Args) == 3 && os.Args[1] == "app" {
			handOver(os.Args[2])
		}
		os.Exit(0)
	}
	os.Exit(m.Run())
}

type layout struct{ app, updater, setup, log, rows string }

func layoutOf(work string) layout {
	install := filepath.Join(work, " Gö & 100% ^ %TEMP%", "Prögram Äpps", "Demo")
	return layout{
		app:     filepath.Join(install, "Demo App.exe"),
		updater: filepath.Join(install, UpdaterExe),
		setup:   filepath.Join(work, "Downloads %PATH% & ^ été", "Demo Setup 2.0.exe"),
		log:     filepath.Join(install, "logs ü", "talvex-updater.log"),
		rows:    filepath.Join(work, "rows & ^ % ü"),
	}
}

// Paths no installer or application lies at, so each updater logs its options, finds neither
// file and ends at once; each row's application is another row's installer.
var hostile = []string{
	`C:\Program Files\Vendor App\setup 2.0.exe`,
	`C:\a "quoted" name\setup.exe`,
	`C:\trailing backslash\`,
	`C:\trailing backslashes\\`,
	`C:\no_spaces_but\"quote`,
	`C:\quote after backslashes\\\"x`,
	`C:\%PATH%\100% done.exe`,
	`C:\^caret^ & ampersand &&\|pipe| <lt> >gt>.exe`,
	"C:\\Ünïcødé\\中文\\\U0001F600.exe",
	"C:\\tab\there.exe",
	`C:\ends in space `,
}

// handovers: the rows, then the real update with the defaults (this executable, the updater
// beside it).
func handovers(l layout) []StartOptions {
	var all []StartOptions
	for i, installer := range hostile {
		all = append(all, StartOptions{Installer: installer, AppExe: hostile[len(hostile)-1-i],
			Log: filepath.Join(l.rows, fmt.Sprintf("row %d %%%d%% ^&.log", i, i)), UpdaterPath: l.updater})
	}
	return append(all, StartOptions{Installer: l.setup, Log: l.log})
}

func handOver(work string) {
	for _, options := range handovers(layoutOf(work)) {
		started, err := StartUpdater(options)
		if err != nil {
			fmt.Println(err)
			os.Exit(1)
		}
		fmt.Printf("started %d %s\n", started.Pid, started.CommandLine)
	}
}

// asLogged is a path as the log shows it: control characters in their visible "<U+0009>" form.
func asLogged(path string) string {
	var out strings.Builder
	for _, c := range path {
		if c < 0x20 || c == 0x7f {
			fmt.Fprintf(&out, "<U+%04X>", c)
		} else {
			out.WriteRune(c)
		}
	}
	return out.String()
}

func messages(log string) []string {
	text, _ := os.ReadFile(log)
	var out []string
	for _, line := range strings.Split(string(text), "\n") {
		if message, ok := messageOf(line); ok {
			out = append(out, message)
		}
	}
	return out
}

func eventually(limit time.Duration, done func() bool) bool {
	for start := time.Now(); !done(); time.Sleep(200 * time.Millisecond) {
		if time.Since(start) > limit {
			return false
		}
	}
	return true
}

func finished(log string) bool {
	outcome, _ := LastUpdate(log, "")
	return outcome != nil && outcome.Finished
}

func copyFile(t *testing.T, from, to string) {
	data, err := os.ReadFile(from)
	if err == nil {
		err = os.WriteFile(to, data, 0o755)
	}
	if err != nil {
		t.Fatal(err)
	}
}

func TestWholeHandoverWithHostilePaths(t *testing.T) {
	updater := os.Getenv("TALVEX_TEST_UPDATER")
	if updater == "" {
		t.Skip("TALVEX_TEST_UPDATER names no talvex-updater.exe")
	}
	l := layoutOf(t.TempDir())
	for _, dir := range []string{filepath.Dir(l.app), filepath.Dir(l.setup), filepath.Dir(l.log), l.rows} {
		if err := os.MkdirAll(dir, 0o755); err != nil {
			t.Fatal(err)
		}
	}
	me, _ := os.Executable()
	copyFile(t, updater, l.updater)
	copyFile(t, me, l.app)
	copyFile(t, me, l.setup)

	app := exec.Command(l.app, "app", filepath.Dir(filepath.Dir(filepath.Dir(filepath.Dir(l.app)))))
	app.Env = append(os.Environ(), "TALVEX_TEST_CHILD=1")
	stdout, _ := app.StdoutPipe()
	if err := app.Start(); err != nil {
		t.Fatal(err)
	}
	output, _ := io.ReadAll(stdout)
	// Its output ends when it does: no updater holds the pipe. The real one runs on for seconds
	// (waiting, installing, its pause), so an end seen before it finished is the application's.
	if finished(l.log) {
		t.Error("the application's output stayed open after it exited")
	}
	if err := app.Wait(); err != nil {
		t.Fatalf("%v: %s", err, output)
	}
	var lines []string
	for scanner := bufio.NewScanner(bytes.NewReader(output)); scanner.Scan(); {
		lines = append(lines, scanner.Text())
	}
	all := handovers(l)
	if len(lines) != len(all) {
		t.Fatalf("%d handovers, output:\n%s", len(all), output)
	}
	if !eventually(90*time.Second, func() bool { return finished(l.log) }) {
		t.Fatalf("the real update did not finish: %q", messages(l.log))
	}
	pid := strconv.Itoa(app.Process.Pid)
	for i, options := range all {
		appExe := options.AppExe
		if appExe == "" {
			appExe = l.app
		}
		want := "installer=" + asLogged(options.Installer) + " app_exe=" + asLogged(appExe) + " wait_pid=Some(" + pid + ")"
		got := ""
		if eventually(10*time.Second, func() bool { return len(messages(options.Log)) >= 2 }) {
			got = messages(options.Log)[1]
		}
		if got != want {
			t.Errorf("%q:\n want %s\n got  %s\n from %s", options.Installer, want, got, lines[i])
		}
		if i < len(hostile) {
			if outcome, _ := LastUpdate(options.Log, ""); outcome == nil || !outcome.Finished || outcome.Error != installerMissing {
				t.Errorf("%q: %+v", options.Installer, outcome)
			}
		}
	}
	// The real update: the updater waited for the application, the installer ran, and the
	// updater started the application again; the reader finds it by the application's path.
	if !strings.Contains(strings.Join(messages(l.log), "\n"), "main process "+pid+" exited") {
		t.Errorf("the updater did not wait for %s: %q", pid, messages(l.log))
	}
	outcome, _ := LastUpdate(l.log, strings.ToUpper(l.app))
	if outcome == nil || !outcome.Installed || outcome.RelaunchedBy != "updater" || outcome.Error != "" {
		t.Errorf("real update: %+v %q", outcome, messages(l.log))
	}
	if other, _ := LastUpdate(l.log, hostile[0]); other != nil {
		t.Errorf("another application's outcome was reported: %+v", other)
	}
}
