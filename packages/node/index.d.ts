export interface StartUpdaterOptions {
  /** Absolute path of the downloaded installer (.exe or .msi). */
  installer: string;
  /** Absolute path of the log file; omitted: the updater's default in the user's temp folder. */
  log?: string;
  /** Absolute path of the application's executable; default: process.execPath. */
  appExe?: string;
  /** Absolute path of talvex-updater.exe; default: updaterPath(). */
  updaterPath?: string;
}

export interface StartedUpdater {
  /** Process id of the updater, which now runs on its own. */
  pid: number;
  /** The command line the updater was started with. */
  commandLine: string;
}

/**
 * Starts talvex-updater detached, with --wait-pid set to this process's id. Quit right after
 * (app.quit() in Electron): the updater waits at most 30 seconds for this process to end.
 * Throws TypeError for bad options (on every platform, before anything else), and Error off
 * Windows or when the updater is missing or cannot be started; nothing is started then.
 */
export function startUpdater(options: StartUpdaterOptions): StartedUpdater;

/** The packaged talvex-updater.exe; from app.asar.unpacked when this package lies in app.asar. */
export function updaterPath(): string;

export interface LastUpdate {
  started: true;
  /** The run ended (with or without success); false while it still runs, or if it was killed. */
  finished: boolean;
  /** The installer ended with exit code 0. */
  installed: boolean;
  /**
   * "exit code: 0", "exit code: 3010", "exit code: 0xc0000005"; null when the installer did not
   * end by itself (or has not yet).
   */
  installerStatus: string | null;
  /** The run's first error line, "ERROR: ..."; null when there was none. */
  error: string | null;
  /** Who started the application again: the updater, the installer (/R), or nobody (yet). */
  relaunchedBy: 'updater' | 'installer' | null;
}

export interface LastUpdateOptions {
  /**
   * Read the last run for this application (the appExe handed to startUpdater), compared as the
   * updater compares application paths: case-insensitively and with or without a leading
   * "\\?\". Omitted: the last run in the log, whatever its application.
   */
  appExe?: string;
}

/**
 * The last update recorded in the log at logPath; null when the file is missing or holds none
 * (for options.appExe: none of that application). The line a second updater writes while the
 * application is already being updated belongs to no run and is passed over.
 */
export function lastUpdate(logPath: string, options?: LastUpdateOptions): LastUpdate | null;
