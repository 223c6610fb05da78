/* A broken transport library: only the open and status exports exist. */
__attribute__((visibility("default"))) int func4(void)
{
    return 1;
}

__attribute__((visibility("default"))) int func6(void)
{
    return 64;
}
