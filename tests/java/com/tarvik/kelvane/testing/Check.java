package com.tarvik.kelvane.testing;

import java.util.Objects;

/** The few assertions the tests need. */
public final class Check {
    private Check() {
    }

    /** Something that may throw. */
    public interface Action {
        void run() throws Exception;
    }

    public static void isTrue(boolean condition, String what) {
        if (!condition) {
            throw new AssertionError(what);
        }
    }

    public static void equal(Object expected, Object actual, String what) {
        if (!Objects.equals(expected, actual)) {
            throw new AssertionError(what + ": expected <" + expected + "> but was <" + actual + ">");
        }
    }

    /** Runs the action and returns what it threw, which must be of the given type. */
    public static <T extends Throwable> T fails(Class<T> type, Action action) {
        try {
            action.run();
        } catch (Throwable thrown) {
            if (type.isInstance(thrown)) {
                return type.cast(thrown);
            }
            throw new AssertionError("expected " + type.getSimpleName() + " but got " + thrown, thrown);
        }
        throw new AssertionError("expected " + type.getSimpleName() + " but nothing was thrown");
    }
}
