package com.tarvik.kelvane.testing;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Arrays;
import java.util.Comparator;

/**
 * Runs the public no-argument methods whose names start with "test" of the classes named on the command
 * line, each on a fresh instance, and ends with the line "N passed, N failed" (exit status 1 on failures).
 */
public final class TestRunner {
    private TestRunner() {
    }

    public static void main(String[] args) throws ReflectiveOperationException {
        int passed = 0;
        int failed = 0;
        for (String className : args) {
            Class<?> type = Class.forName(className);
            Method[] methods = type.getMethods();
            Arrays.sort(methods, Comparator.comparing(Method::getName));
            for (Method method : methods) {
                if (!method.getName().startsWith("test") || method.getParameterCount() != 0
                        || Modifier.isStatic(method.getModifiers())) {
                    continue;
                }
                String name = type.getSimpleName() + "." + method.getName();
                try {
                    Object instance = type.getConstructor().newInstance();
                    method.invoke(instance);
                    passed++;
                    System.out.println("PASS " + name);
                } catch (InvocationTargetException e) {
                    failed++;
                    System.out.println("FAIL " + name + ": " + e.getCause());
                    e.getCause().printStackTrace(System.out);
                }
            }
        }
        System.out.println(passed + " passed, " + failed + " failed");
        System.exit(failed == 0 && passed > 0 ? 0 : 1);
    }
}
