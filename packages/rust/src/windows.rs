//! The Windows side: this process's image path and the detached start.

use std::ffi::{c_void, OsStr, OsString};
use std::io;
use std::os::windows::ffi::{OsStrExt, OsStringExt};
use std::path::{Path, PathBuf};

const DETACHED_PROCESS: u32 = 0x0000_0008;
const CREATE_BREAKAWAY_FROM_JOB: u32 = 0x0100_0000;
const ERROR_ACCESS_DENIED: i32 = 5;
const ERROR_INSUFFICIENT_BUFFER: i32 = 122;

#[link(name = "kernel32")]
extern "system" {
    fn GetCurrentProcess() -> isize;
    fn QueryFullProcessImageNameW(
        process: isize,
        flags: u32,
        name: *mut u16,
        size: *mut u32,
    ) -> i32;
}

/// Not std::env::current_exe (GetModuleFileNameW): that is the path the process was started
/// with, which may be a short (8.3) or otherwise different spelling. The updater recognises the
/// restarted application by the image paths the system reports for running processes, so it is
/// handed exactly that form.
pub(crate) fn own_image_path() -> io::Result<PathBuf> {
    let mut buffer = vec![0u16; 1024];
    loop {
        let mut size = buffer.len() as u32;
        // SAFETY: `buffer` holds `size` writable units; the pseudo handle needs no closing.
        let ok = unsafe {
            QueryFullProcessImageNameW(GetCurrentProcess(), 0, buffer.as_mut_ptr(), &mut size)
        };
        if ok != 0 {
            return Ok(PathBuf::from(OsString::from_wide(&buffer[..size as usize])));
        }
        let error = io::Error::last_os_error();
        if error.raw_os_error() != Some(ERROR_INSUFFICIENT_BUFFER) || buffer.len() >= 32768 {
            return Err(error);
        }
        buffer.resize(buffer.len() * 2, 0);
    }
}

#[repr(C)]
struct StartupInfo {
    cb: u32,
    reserved: *mut u16,
    desktop: *mut u16,
    title: *mut u16,
    placement: [u32; 7],
    flags: u32,
    show_window: u16,
    reserved2_size: u16,
    reserved2: *mut u8,
    std_input: isize,
    std_output: isize,
    std_error: isize,
}

#[repr(C)]
#[derive(Default)]
struct ProcessInformation {
    process: isize,
    thread: isize,
    process_id: u32,
    thread_id: u32,
}

const STARTF_USESTDHANDLES: u32 = 0x0000_0100;

#[link(name = "kernel32")]
extern "system" {
    fn CreateProcessW(
        application: *const u16,
        command_line: *mut u16,
        process_attributes: *const c_void,
        thread_attributes: *const c_void,
        inherit_handles: i32,
        flags: u32,
        environment: *const c_void,
        directory: *const u16,
        startup: *const StartupInfo,
        information: *mut ProcessInformation,
    ) -> i32;
    fn CloseHandle(handle: isize) -> i32;
}

fn wide_z(text: &OsStr) -> Vec<u16> {
    text.encode_wide().chain([0]).collect()
}

/// Starts `updater` with exactly `command_line` and lets it go.
///
/// Not std::process::Command: it starts every child with handle inheritance on, so any
/// inheritable handle of this process, such as a standard stream it inherited itself, would
/// stay open in the updater; a launcher reading our output would then wait for the updater.
pub(crate) fn spawn_detached(updater: &Path, command_line: &str) -> io::Result<u32> {
    let application = wide_z(updater.as_os_str());
    // The three standard handles are given as none at all (and nothing is inherited), so the
    // updater holds none of our files, pipes or sockets while the installer replaces them.
    let startup = StartupInfo {
        cb: std::mem::size_of::<StartupInfo>() as u32,
        reserved: std::ptr::null_mut(),
        desktop: std::ptr::null_mut(),
        title: std::ptr::null_mut(),
        placement: [0; 7],
        flags: STARTF_USESTDHANDLES,
        show_window: 0,
        reserved2_size: 0,
        reserved2: std::ptr::null_mut(),
        std_input: 0,
        std_output: 0,
        std_error: 0,
    };
    // DETACHED_PROCESS keeps the updater off our console, if we have one.
    // CREATE_BREAKAWAY_FROM_JOB: a launcher's job that kills its processes once its last handle
    // closes would kill the updater with us mid-install. A job that forbids breaking away makes
    // the start fail with access denied; then the updater starts inside it, which is still
    // better than not updating.
    let start = |flags: u32| {
        // CreateProcessW may write into the command line, so each attempt gets a fresh copy.
        let mut line = wide_z(OsStr::new(command_line));
        let mut information = ProcessInformation::default();
        // SAFETY: every pointer is valid for the call; the strings are NUL-terminated.
        let ok = unsafe {
            CreateProcessW(
                application.as_ptr(),
                line.as_mut_ptr(),
                std::ptr::null(),
                std::ptr::null(),
                0,
                flags,
                std::ptr::null(),
                std::ptr::null(),
                &startup,
                &mut information,
            )
        };
        if ok == 0 {
            return Err(io::Error::last_os_error());
        }
        // Let it go: the updater waits for us, not the other way round.
        // SAFETY: both handles were just returned to us and are closed once.
        unsafe {
            CloseHandle(information.thread);
            CloseHandle(information.process);
        }
        Ok(information.process_id)
    };
    match start(DETACHED_PROCESS | CREATE_BREAKAWAY_FROM_JOB) {
        Err(error) if error.raw_os_error() == Some(ERROR_ACCESS_DENIED) => start(DETACHED_PROCESS),
        other => other,
    }
}
