/* A module for the loader tests: one plain export and one decorated one ("_twice@4"). */
__attribute__((visibility("default"))) int LoaderFixtureAnswer(void) {
  return 42;
}

/* "@" cannot appear in a symbol here; the loader looks the decorated name up with "$". */
__attribute__((visibility("default"))) int Twice(int value) __asm__("_twice$4");
int Twice(int value) {
  return 2 * value;
}
