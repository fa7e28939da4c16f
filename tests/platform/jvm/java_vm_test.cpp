#include "platform/jvm/java_vm.h"

#include <gtest/gtest.h>

TEST(JavaVmTest, Builds) { TestJvm::CJavaVm vm; EXPECT_NE(vm.Env(), nullptr); }
