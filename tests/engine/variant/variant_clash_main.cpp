// Linked with both variants of the engine: the link must fail (tests/engine/variant/CMakeLists.txt).
int main() { return 0; }
