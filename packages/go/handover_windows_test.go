package updater

// A whole handover through this package under Windows (run under Wine by the project's tests):
// the test copies itself into an application folder with a hostile name and runs the copy as
// the application, which hands over for every row and for the real update and exits; the
// updater's logs must then read every value back exactly. The installer and the relaunched
// application are copies of this program too: with TALVEX_TEST_CHILD set they exit at once.

import (
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

// layoutOf gives the application (with the updater beside it), the installer and the real
// update's log.
func layoutOf(work string) (app, setup, log string) {
	install := filepath.Join(work, " Gö & 100% ^ %TEMP%", "Prögram Äpps")
	return filepath.Join(install, "Demo App.exe"), filepath.Join(work, "Downloads %PATH% & ^ été", "Demo Setup 2.0.exe"),
		filepath.Join(install, "logs ü", "talvex-updater.log")
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
func handovers(work string) []StartOptions {
	app, setup, log := layoutOf(work)
	var all []StartOptions
	for i, installer := range hostile {
		all = append(all, StartOptions{Installer: installer, AppExe: hostile[len(hostile)-1-i],
			Log:         filepath.Join(work, "rows & ^ % ü", fmt.Sprintf("row %d %%%d%% ^&.log", i, i)),
			UpdaterPath: filepath.Join(filepath.Dir(app), UpdaterExe)})
	}
	return append(all, StartOptions{Installer: setup, Log: log})
}

func handOver(work string) {
	for _, options := range handovers(work) {
		started, err := StartUpdater(options)
		if err != nil {
			fmt.Println(err)
			os.Exit(1)
		}
		fmt.Printf("started %d %s\n", started.Pid, started.CommandLine)
	}
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
	for start := time.Now(); !done() && time.Since(start) < limit; {
		time.Sleep(200 * time.Millisecond)
	}
	return done()
}

func TestWholeHandoverWithHostilePaths(t *testing.T) {
	updater := os.Getenv("TALVEX_TEST_UPDATER")
	if updater == "" {
		t.Skip("TALVEX_TEST_UPDATER names no talvex-updater.exe")
	}
	work := t.TempDir()
	app, setup, log := layoutOf(work)
	all := handovers(work)
	me, _ := os.Executable()
	// Each file to make, with the file it copies ("": a folder for the updater to write into).
	for to, from := range map[string]string{all[0].UpdaterPath: updater, app: me, setup: me,
		filepath.Dir(log): "", filepath.Dir(all[0].Log): ""} {
		data, err := os.ReadFile(from)
		if from == "" {
			err = os.MkdirAll(to, 0o755)
		} else if err == nil {
			if err = os.MkdirAll(filepath.Dir(to), 0o755); err == nil {
				err = os.WriteFile(to, data, 0o755)
			}
		}
		if err != nil {
			t.Fatal(err)
		}
	}

	cmd := exec.Command(app, "app", work)
	cmd.Env = append(os.Environ(), "TALVEX_TEST_CHILD=1")
	stdout, _ := cmd.StdoutPipe()
	if err := cmd.Start(); err != nil {
		t.Fatal(err)
	}
	output, _ := io.ReadAll(stdout)
	// Its output ends when it does: no updater holds the pipe. The real one runs on for seconds
	// (waiting, installing, its pause), so an end seen before it finished is the application's.
	finished := func() bool { outcome, _ := LastUpdate(log, ""); return outcome != nil && outcome.Finished }
	if finished() {
		t.Error("the application's output stayed open after it exited")
	}
	lines := strings.Split(strings.TrimSuffix(string(output), "\n"), "\n")
	if err := cmd.Wait(); err != nil || len(lines) != len(all) {
		t.Fatalf("%v: %s", err, output)
	}
	if !eventually(90*time.Second, finished) {
		t.Fatalf("the real update did not finish: %q", messages(log))
	}
	logged := strings.NewReplacer("\t", "<U+0009>")
	pid := strconv.Itoa(cmd.Process.Pid)
	for i, options := range all {
		appExe := options.AppExe
		if appExe == "" {
			appExe = app
		}
		want := "installer=" + logged.Replace(options.Installer) + " app_exe=" + logged.Replace(appExe) + " wait_pid=Some(" + pid + ")"
		eventually(10*time.Second, func() bool { return len(messages(options.Log)) >= 2 })
		if got := messages(options.Log); len(got) < 2 || got[1] != want {
			t.Errorf("want %s\ngot  %q\nfrom %s", want, got, lines[i])
		}
	}
	// The real update: the updater waited for the application, the installer ran, and the
	// updater started the application again; the reader finds it by the application's path.
	outcome, _ := LastUpdate(log, strings.ToUpper(app))
	if !strings.Contains(strings.Join(messages(log), "\n"), "main process "+pid+" exited") ||
		outcome == nil || !outcome.Installed || outcome.RelaunchedBy != "updater" {
		t.Errorf("real update: %+v %q", outcome, messages(log))
	}
}
