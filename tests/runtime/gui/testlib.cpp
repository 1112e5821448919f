// A library for the binding-by-name test: one export whose name is Chinese, as the update
// library's is.
extern "C" __attribute__((visibility("default"))) int 测试命令(int value)
{
    return value + 41;
}
