package com.tarvik.kelvane.audio;

import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.NoSuchFileException;

/**
 * A failure of the file system while the library opened, created or wrote a file: the file or a directory
 * on its path does not exist, access is denied, the file is in use, the disk is full or could not be
 * written, the drive or network share went away, the file has reached the largest size allowed, or the
 * name is not valid. The cause is the matching {@link java.nio.file} exception ({@link NoSuchFileException},
 * {@link AccessDeniedException}, or else a {@link FileSystemException} with the reason), so that code that
 * already handles those can recognise the failure.
 */
public class AudioFileException extends AudioException {
    private static final long serialVersionUID = 1L;

    /**
     * Makes the exception for a file-system failure of an operation.
     *
     * @param operation  what was attempted, such as "record"
     * @param file       the file the operation was about
     * @param resultCode the library's result code, a mapped system error
     */
    public AudioFileException(String operation, String file, int resultCode) {
        super(operation, file, resultCode);
        initCause(cause(file, resultCode));
    }

    /**
     * The file-system exception that says what went wrong.
     *
     * @return the cause, never null
     */
    @Override
    public FileSystemException getCause() {
        return (FileSystemException) super.getCause();
    }

    /** The codes of a file that could not be opened, created or written, for a reason of the file system. */
    private static final int[] FILE_SYSTEM_FAILURES = {
        0x80070002, // ERROR_FILE_NOT_FOUND
        0x80070003, // ERROR_PATH_NOT_FOUND
        0x80070005, // ERROR_ACCESS_DENIED
        0x80070015, // ERROR_NOT_READY (a drive removed)
        0x8007001D, // ERROR_WRITE_FAULT
        0x80070020, // ERROR_SHARING_VIOLATION
        0x80070021, // ERROR_LOCK_VIOLATION
        0x80070027, // ERROR_HANDLE_DISK_FULL
        0x80070037, // ERROR_DEV_NOT_EXIST (a drive or share gone)
        0x80070040, // ERROR_NETNAME_DELETED
        0x80070050, // ERROR_FILE_EXISTS
        0x80070052, // ERROR_CANNOT_MAKE
        0x80070070, // ERROR_DISK_FULL
        0x8007007B, // ERROR_INVALID_NAME
        0x800700A1, // ERROR_BAD_PATHNAME
        0x800700DF, // ERROR_FILE_TOO_LARGE
        0x80030005, // STG_E_ACCESSDENIED
        0x8003001D, // STG_E_WRITEFAULT
        0x80030070, // STG_E_MEDIUMFULL
    };

    /** The codes that are file-system failures (a copy). */
    static int[] fileSystemFailures() {
        return FILE_SYSTEM_FAILURES.clone();
    }

    /**
     * Whether a code is a failure of the file system: a file or directory that does not exist, access
     * denied, a file in use, a full disk or one that could not be written, a drive or share that went away,
     * a file at the largest size allowed, a name that is not valid.
     */
    static boolean isFileSystemFailure(int code) {
        for (int failure : FILE_SYSTEM_FAILURES) {
            if (failure == code) {
                return true;
            }
        }
        return false;
    }

    private static FileSystemException cause(String file, int code) {
        switch (code) {
            case 0x80070002:
                return new NoSuchFileException(file, null, "file not found");
            case 0x80070003:
                return new NoSuchFileException(file, null, "path not found");
            case 0x80070005:
            case 0x80030005:
                return new AccessDeniedException(file, null, "access denied");
            default:
                return new FileSystemException(file, null, ResultCodes.explain(code));
        }
    }
}
