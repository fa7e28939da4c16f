package consumer;

import com.tarvik.kelvane.audio.AudioLibrary;

/** Opens the library as an application would; off Windows the loader refuses with a clear message. */
public class Check {
    public static void main(String[] args) {
        System.out.println("package version " + AudioLibrary.packageVersion());
        try (AudioLibrary audio = AudioLibrary.open()) {
            System.out.println("opened " + AudioLibrary.libraryFile().orElse(null) + ", version " + audio.siblingModuleVersion());
        } catch (UnsatisfiedLinkError e) {
            System.out.println("UnsatisfiedLinkError: " + e.getMessage());
        } catch (Exception e) {
            System.out.println("failed: " + e);
        }
    }
}
