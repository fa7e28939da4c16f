package com.tarvik.kelvane.audio;

import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.NoSuchFileException;

/**
 * A failure of the file system while the library opened, created or wrote a file: the file or a directory
 * on its path does not exist, access is denied, the file is in use, the disk is full or the name is not
 * valid. The cause is the matching {@link java.nio.file} exception ({@link NoSuchFileException},
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

    static boolean isFileSystemFailure(int code) {
        return switch (code) {
            case 0x80070002, 0x80070003, 0x80070005, 0x80070020, 0x80070021, 0x80070070, 0x8007007B, 0x800700A1,
                    0x80070050, 0x80070052 -> true;
            default -> false;
        };
    }

    private static FileSystemException cause(String file, int code) {
        return switch (code) {
            case 0x80070002 -> new NoSuchFileException(file, null, "file not found");
            case 0x80070003 -> new NoSuchFileException(file, null, "path not found");
            case 0x80070005 -> new AccessDeniedException(file, null, "access denied");
            default -> new FileSystemException(file, null, ResultCodes.explain(code));
        };
    }
}
