package updater

import (
	"errors"
	"fmt"
	"os"
	"os/exec"
	"path/filepath"
	"syscall"
	"unicode/utf16"
	"unsafe"
)

const (
	detachedProcess        = 0x00000008
	createBreakawayFromJob = 0x01000000
	// The longest command line CreateProcessW accepts, in UTF-16 units with its NUL.
	maxCommandLine = 32767
)

var queryFullProcessImageName = syscall.NewLazyDLL("kernel32.dll").NewProc("QueryFullProcessImageNameW")

// ownImagePath is not os.Executable (GetModuleFileNameW): that is the path the process was
// started with, which may be a short (8.3) or otherwise different spelling. The updater
// recognises the restarted application by the image paths the system reports for running
// processes, so it is handed exactly that form.
func ownImagePath() (string, error) {
	process, err := syscall.GetCurrentProcess()
	if err != nil {
		return "", err
	}
	for size := 1024; ; size *= 2 {
		buffer := make([]uint16, size)
		n := uint32(size)
		ok, _, err := queryFullProcessImageName.Call(uintptr(process), 0,
			uintptr(unsafe.Pointer(&buffer[0])), uintptr(unsafe.Pointer(&n)))
		if ok != 0 {
			return syscall.UTF16ToString(buffer[:n]), nil
		}
		if err != syscall.ERROR_INSUFFICIENT_BUFFER || size >= 32768 {
			return "", fmt.Errorf("talvex-updater: this process's image path: %w", err)
		}
	}
}

func startChecked(options StartOptions) (Started, error) {
	appExe := options.AppExe
	if appExe == "" {
		var err error
		if appExe, err = ownImagePath(); err != nil {
			return Started{}, err
		}
		if err = checkPath("AppExe", appExe); err != nil {
			return Started{}, err
		}
	}
	updater := options.UpdaterPath
	if updater == "" {
		updater = filepath.Join(filepath.Dir(appExe), UpdaterExe)
		if err := checkUpdater(updater); err != nil {
			return Started{}, err
		}
	}
	if info, err := os.Stat(updater); err != nil {
		return Started{}, fmt.Errorf("talvex-updater: the updater is missing: %w", err)
	} else if !info.Mode().IsRegular() {
		return Started{}, fmt.Errorf("talvex-updater: the updater is not a file: %s", updater)
	}
	line := commandLine(updater, options.Installer, appExe, os.Getpid(), options.Log)
	if len(utf16.Encode([]rune(line))) >= maxCommandLine {
		return Started{}, &ArgumentError{"Installer", "and the other paths make a command line longer than Windows allows"}
	}
	// CmdLine: the command line is ours, not rebuilt by the os/exec package. No Stdin, Stdout
	// or Stderr: all three are the null device, and only those three handles are inherited, so
	// the updater holds none of our files, pipes or sockets, and whoever reads our output sees
	// its end when we exit. DETACHED_PROCESS keeps it off our console, if we have one.
	// CREATE_BREAKAWAY_FROM_JOB: a launcher's job that kills its processes once its last
	// handle closes would kill the updater with us mid-install. A job that forbids breaking
	// away makes the start fail with access denied; then the updater starts inside it, which
	// is still better than not updating.
	start := func(flags uint32) (*exec.Cmd, error) {
		cmd := &exec.Cmd{Path: updater, SysProcAttr: &syscall.SysProcAttr{
			CmdLine: line, CreationFlags: flags, HideWindow: true}}
		return cmd, cmd.Start()
	}
	cmd, err := start(detachedProcess | createBreakawayFromJob)
	if errors.Is(err, syscall.ERROR_ACCESS_DENIED) {
		cmd, err = start(detachedProcess)
	}
	if err != nil {
		return Started{}, fmt.Errorf("talvex-updater: the updater could not be started: %w", err)
	}
	// Let it go: the updater waits for us, not the other way round.
	pid := cmd.Process.Pid
	_ = cmd.Process.Release()
	return Started{Pid: pid, CommandLine: line}, nil
}
