package updater

import (
	"errors"
	"os"
	"strings"
	"unicode"
)

const (
	startBanner         = "=== talvex-updater start ==="
	doneBanner          = "=== talvex-updater done"
	installerExited     = "installer exited: "
	installerRelaunched = "app already running (installer /R relaunched), skip"
	relaunched          = "relaunched "
	installerMissing    = "ERROR: installer file missing"
	// A second updater for an application that is being updated writes this one line, without
	// banners, between the lines of the run it defers to.
	refused = "ERROR: another update of this application is running; installer not run: "
)

// Without an installer the run ends with its relaunch attempt and writes no closing banner.
var relaunchEnds = []string{relaunched, "ERROR: app exe missing", "ERROR: relaunch failed: "}

// Outcome is what one run of the updater did.
type Outcome struct {
	Finished        bool   // the run ended; false while it still runs, or if it was killed
	Installed       bool   // the installer ended with exit code 0
	InstallerStatus string // "exit code: 0", "exit code: 0xc0000005"; "" when the installer did not end by itself (or has not yet)
	Error           string // the run's first "ERROR: ..." line; "" when none
	RelaunchedBy    string // who started the application again: "updater", "installer" or ""
}

// messageOf gives the message of one "[<seconds>] <message>" line; nothing for any other line
// (one cut short when a writer was killed, say).
func messageOf(line string) (string, bool) {
	if !strings.HasPrefix(line, "[") {
		return "", false
	}
	digits := 1
	for digits < len(line) && line[digits] >= '0' && line[digits] <= '9' {
		digits++
	}
	if digits == 1 || !strings.HasPrefix(line[digits:], "] ") {
		return "", false
	}
	return line[digits+2:], true
}

// appExeOf gives the application path of an options line, "installer=<path> app_exe=<path>
// wait_pid=<pid>", searched from the end: the installer's path may hold " app_exe=" itself.
func appExeOf(message string) (string, bool) {
	if !strings.HasPrefix(message, "installer=") {
		return "", false
	}
	pid := strings.LastIndex(message, " wait_pid=")
	if pid < 0 {
		return "", false
	}
	app := strings.LastIndex(message[:pid], " app_exe=")
	if app < 0 {
		return "", false
	}
	return message[app+len(" app_exe=") : pid], true
}

// comparable is the form in which the updater compares executable paths: without a leading
// `\\?\` (only that: `\\?\UNC\server\share` keeps its "UNC\"), lower-cased code point by code
// point by the full default mapping, in which only U+0130 maps to more than one code point.
// The updater lowers a word-final capital sigma to a final sigma; folding both small sigmas
// into one keeps every pair of paths it takes for one application equal here too.
func comparable(path string) string {
	path = strings.TrimPrefix(path, `\\?\`)
	var out strings.Builder
	for _, c := range path {
		if c == '\u0130' {
			out.WriteString("i\u0307")
		} else {
			c = unicode.ToLower(c)
			if c == '\u03c2' {
				c = '\u03c3'
			}
			out.WriteRune(c)
		}
	}
	return out.String()
}

// ParseLastUpdate reads the last run in the log text (UTF-8, as the updater writes it), from
// its start banner up to the next one. With a non-empty appExe, the last run whose options
// name that application. Nil when there is no such run.
func ParseLastUpdate(log, appExe string) *Outcome {
	var messages []string
	for _, line := range strings.Split(log, "\n") {
		if message, ok := messageOf(line); ok && !strings.HasPrefix(message, refused) {
			messages = append(messages, message)
		}
	}
	var run []string
	for end := len(messages); ; {
		start := end - 1
		for start >= 0 && messages[start] != startBanner {
			start--
		}
		if start < 0 {
			return nil
		}
		run = messages[start+1 : end]
		if appExe == "" || runNames(run, comparable(appExe)) {
			break
		}
		end = start
	}

	outcome := &Outcome{}
	ownApp, haveApp := "", false
	for _, message := range run {
		if !haveApp {
			if ownApp, haveApp = appExeOf(message); haveApp {
				continue
			}
		}
		switch {
		case strings.HasPrefix(message, installerExited):
			if outcome.InstallerStatus == "" {
				outcome.InstallerStatus = message[len(installerExited):]
				outcome.Installed = outcome.InstallerStatus == "exit code: 0"
			}
		case message == installerRelaunched:
			outcome.RelaunchedBy = "installer"
		case strings.HasPrefix(message, relaunched):
			// Another update writing to the same log relaunches another application.
			if !haveApp || message[len(relaunched):] == ownApp {
				outcome.RelaunchedBy = "updater"
			}
		case message == doneBanner:
			outcome.Finished = true
		}
		if strings.HasPrefix(message, "ERROR: ") && outcome.Error == "" {
			outcome.Error = message
		}
		if outcome.Error == installerMissing {
			for _, end := range relaunchEnds {
				if strings.HasPrefix(message, end) {
					outcome.Finished = true
				}
			}
		}
	}
	return outcome
}

func runNames(run []string, wanted string) bool {
	for _, message := range run {
		if app, ok := appExeOf(message); ok {
			return comparable(app) == wanted
		}
	}
	return false
}

// LastUpdate reads the last run in the log file at logPath, as ParseLastUpdate does. A
// missing, unreadable or foreign file gives nil and no error; the updater may be appending to
// it meanwhile. Only an empty logPath, a mistake of the caller, is an error.
func LastUpdate(logPath, appExe string) (*Outcome, error) {
	if logPath == "" {
		return nil, errors.New("talvex-updater: LastUpdate needs the log's path")
	}
	// os.ReadFile shares reading and writing on Windows, so the updater can go on appending.
	text, err := os.ReadFile(logPath)
	if err != nil {
		return nil, nil
	}
	return ParseLastUpdate(string(text), appExe), nil
}
