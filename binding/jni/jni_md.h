/* Machine-dependent JNI definitions for Windows, for both builds of the library:
   - 32-bit (i686): the JVM calls native methods with the __stdcall convention; the link step exports
     them under their plain names (without the @n suffix);
   - 64-bit (x64): there is one calling convention, so JNICALL is empty and the names are plain anyway.
   jint is 32 bits on both (long is 32 bits on Windows), jlong 64. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#if defined(_WIN64)
#define JNICALL
#else
#define JNICALL __stdcall
#endif

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif /* !_JAVASOFT_JNI_MD_H_ */
