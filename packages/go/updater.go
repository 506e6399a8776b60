// Package updater hands a Windows application over to talvex-updater, which waits for the
// application to exit, runs the downloaded installer and starts the application again; and
// reads the outcome of the last update back from the updater's log on the next start.
package updater

import (
	"errors"
	"fmt"
	"strconv"
	"strings"
	"unicode/utf8"
)

// UpdaterExe is the updater's file name, beside the application's executable by default.
const UpdaterExe = "talvex-updater.exe"

// StartOptions says what to hand over. Only Installer is required.
type StartOptions struct {
	Installer   string // absolute path of the downloaded installer (.exe, or .msi)
	Log         string // absolute path of the log file; "": the updater's default
	AppExe      string // the executable to start again; "": this process's own image
	UpdaterPath string // the updater to start; "": talvex-updater.exe beside AppExe
}

// Started describes the updater that was started.
type Started struct {
	Pid         int    // its process id
	CommandLine string // the whole command line it received
}

// ArgumentError says which field of StartOptions cannot be handed over as it is.
type ArgumentError struct {
	Field  string
	Reason string
}

func (e *ArgumentError) Error() string { return "talvex-updater: " + e.Field + " " + e.Reason }

// ErrUnsupported is returned (wrapped) by StartUpdater on a platform other than Windows.
var ErrUnsupported = errors.New("talvex-updater: runs on Windows only")

// checkPath makes sure that value reaches the updater exactly: text Windows can hold (a Go
// string may hold bytes that are no UTF-8, which would arrive as U+FFFD), no NUL (it would end
// the command line), and a path that reads the same from any current directory ("C:\..." or
// "\\server\..."; "\dir" and "C:dir" depend on the current drive or directory, which the
// updater does not share).
func checkPath(field, value string) error {
	switch {
	case value == "":
		return &ArgumentError{field, "must not be empty"}
	case !utf8.ValidString(value):
		return &ArgumentError{field, "is not valid UTF-8"}
	case strings.ContainsRune(value, 0):
		return &ArgumentError{field, "contains a NUL character"}
	}
	slash := func(c byte) bool { return c == '\\' || c == '/' }
	letter := func(c byte) bool { return c >= 'a' && c <= 'z' || c >= 'A' && c <= 'Z' }
	drive := len(value) >= 3 && letter(value[0]) && value[1] == ':' && slash(value[2])
	unc := len(value) >= 2 && slash(value[0]) && slash(value[1])
	if !drive && !unc {
		return &ArgumentError{field, `must be an absolute path ("C:\..." or "\\server\..."): ` + value}
	}
	return nil
}

// checkUpdater: the updater is started directly, never through a shell; Windows runs a batch
// file (or a program named otherwise) through cmd.exe or another handler.
func checkUpdater(value string) error {
	if err := checkPath("UpdaterPath", value); err != nil {
		return err
	}
	name := value[strings.LastIndexAny(value, `\/`)+1:]
	if len(name) <= 4 || !strings.EqualFold(name[len(name)-4:], ".exe") {
		return &ArgumentError{"UpdaterPath", "must name an .exe file: " + value}
	}
	return nil
}

// quoteArgument quotes one argument so that the child's C runtime (and the updater, which
// follows the same rules) reads it back as exactly one argument with exactly this text.
func quoteArgument(argument string) string {
	if argument != "" && !strings.ContainsAny(argument, " \t\n\v\"") {
		return argument
	}
	// Backslashes are literal except in front of a double quote, where 2n backslashes mean n
	// and an odd count escapes the quote. So a run of backslashes is doubled when a quote
	// follows it, including the closing quote added here ("C:\Dir\" would otherwise swallow it).
	var quoted strings.Builder
	quoted.WriteByte('"')
	backslashes := 0
	for _, c := range argument {
		if c == '\\' {
			backslashes++
			continue
		}
		if c == '"' {
			backslashes = backslashes*2 + 1
		}
		quoted.WriteString(strings.Repeat(`\`, backslashes))
		backslashes = 0
		quoted.WriteRune(c)
	}
	quoted.WriteString(strings.Repeat(`\`, backslashes*2))
	quoted.WriteByte('"')
	return quoted.String()
}

// commandLine is the whole command line that starts updater. The program name is parsed by
// other rules (quotes only toggle, no escapes), and a Windows path cannot hold a double quote,
// so plain quotes are right for it.
func commandLine(updater, installer, appExe string, pid int, log string) string {
	parts := []string{`"` + updater + `"`, "--installer", quoteArgument(installer),
		"--app-exe", quoteArgument(appExe), "--wait-pid", strconv.Itoa(pid)}
	if log != "" {
		parts = append(parts, "--log", quoteArgument(log))
	}
	return strings.Join(parts, " ")
}

// StartUpdater starts the updater detached, with the installer to run, the application's image
// path and this process's id, and returns at once: the caller then exits, and the updater,
// which waits for this process, installs and starts the application again.
//
// The options are checked first on every platform, so that a mistake shows in tests on any
// host (as an *ArgumentError); on a platform other than Windows the error then wraps
// ErrUnsupported.
func StartUpdater(options StartOptions) (Started, error) {
	if err := checkPath("Installer", options.Installer); err != nil {
		return Started{}, err
	}
	if options.Log != "" {
		if err := checkPath("Log", options.Log); err != nil {
			return Started{}, err
		}
	}
	if options.AppExe != "" {
		if err := checkPath("AppExe", options.AppExe); err != nil {
			return Started{}, err
		}
	}
	if options.UpdaterPath != "" {
		if err := checkUpdater(options.UpdaterPath); err != nil {
			return Started{}, err
		}
	}
	return startChecked(options)
}

func unsupported(platform string) error {
	return fmt.Errorf("%w, not on %s", ErrUnsupported, platform)
}
