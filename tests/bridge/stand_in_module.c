/* A stand-in plug-in module: the loading tests only verify, copy, load and release it. */
__attribute__((visibility("default"))) int StandInKind(void) {
  return STAND_IN_KIND;
}
