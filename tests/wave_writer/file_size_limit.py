#!/usr/bin/env python3
"""Runs a command as on a disk that is full past a given size: every file the command writes is limited
to LIMIT bytes (RLIMIT_FSIZE, with SIGXFSZ ignored so that the write fails instead of ending the
process). Under Wine a write that crosses the limit writes what fits and reports fewer bytes, as Wine
does on a full file system; the next write fails. No root and no file system of our own are needed.
The limit is passed on as TESSARO_TEST_FILE_SIZE_LIMIT. The build's wineserver must already run (it
would inherit the limit otherwise).

usage: file_size_limit.py LIMIT COMMAND [ARGUMENTS...]"""
import os
import resource
import signal
import sys

limit = int(sys.argv[1])
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
os.environ["TESSARO_TEST_FILE_SIZE_LIMIT"] = str(limit)
os.execvp(sys.argv[2], sys.argv[2:])
