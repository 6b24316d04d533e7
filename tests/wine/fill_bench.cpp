// Times filling the dialog's list box with 100,000 names, as a listing does
// once the archive has been read. Run under Wine: make bench_dialog_fill.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dialog/form.hpp"

int main() {
    using namespace vexmira;
    constexpr int kEntries = 100000;
    constexpr int kRuns = 7;

    dialog::TForm1 dialogForm;
    dialog::EntryList = std::make_unique<archive::EntryList>();
    char name[32];
    for (int i = 0; i < kEntries; ++i) {
        std::snprintf(name, sizeof name, "file%06d.dat", i);
        archive::TCompressedFileInfo info;
        info.FullSize = i;
        dialog::EntryList->Add(name, info);
    }
    ShowWindow(dialogForm.Handle(), SW_SHOW);
    HWND list = dialogForm.ControlHandle(form::Row("ListBox1"));

    LARGE_INTEGER frequency{}, start{}, end{};
    QueryPerformanceFrequency(&frequency);
    std::vector<double> seconds;
    for (int run = 0; run < kRuns; ++run) {
        SendMessageA(list, LB_RESETCONTENT, 0, 0);
        QueryPerformanceCounter(&start);
        dialogForm.FillListBox();
        QueryPerformanceCounter(&end);
        seconds.push_back(static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
        std::printf("run %d: %d items in %.3f s\n", run + 1, static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0)),
                    seconds.back());
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("fill of %d names: median %.3f s, best %.3f s, worst %.3f s\n", kEntries, seconds[kRuns / 2],
                seconds.front(), seconds.back());
    return 0;
}
