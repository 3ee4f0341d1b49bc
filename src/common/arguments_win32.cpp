// The C runtime splits the command line into arguments. It must hand "*.pod"
// and "/?" over as they were typed, not expand them into file names.
extern "C" {
int _dowildcard = 0;
}
