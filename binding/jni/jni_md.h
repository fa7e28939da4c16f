// Machine-dependent JNI definitions for 32-bit Windows (the JDK's own jni.h includes this file).
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif // _JAVASOFT_JNI_MD_H_
