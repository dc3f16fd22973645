// A DLL that lies beside the tests, where only a program that searches its own
// folder finds it.
extern "C" __declspec(dllexport) int LibraryProbe() {
    return 1;
}
