//go:build !windows

package updater

import "runtime"

func startChecked(StartOptions) (Started, error) { return Started{}, unsupported(runtime.GOOS) }
