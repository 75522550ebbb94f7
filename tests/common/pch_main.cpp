// Only the carrier of the tests' precompiled header.
int main() {
    return 0;
}
