/*
 * A transport library with kvusb's six exports that only counts its calls,
 * for testing the binding. fake_transport_calls(n) tells how often funcN ran.
 */
static int calls[7];

__attribute__((visibility("default"))) int fake_transport_calls(int export_number)
{
    return export_number >= 1 && export_number <= 6 ? calls[export_number] : -1;
}

__attribute__((visibility("default"))) int func1(int pipe, unsigned char *buffer, int length)
{
    (void)pipe;
    (void)buffer;
    ++calls[1];
    return length;
}

__attribute__((visibility("default"))) int func2(int pipe, unsigned char *buffer, int length)
{
    (void)buffer;
    ++calls[2];
    return pipe * 1000 + length;
}

__attribute__((visibility("default"))) int func3(const void *records, unsigned char force)
{
    (void)records;
    ++calls[3];
    return force == 1 ? 1 : 2;
}

__attribute__((visibility("default"))) int func4(void)
{
    ++calls[4];
    return 2;
}

__attribute__((visibility("default"))) int func5(void)
{
    ++calls[5];
    return 1;
}

__attribute__((visibility("default"))) int func6(void)
{
    ++calls[6];
    return 512;
}
