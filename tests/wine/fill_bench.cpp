// Times filling the dialog's list box with 100,000 names, as a listing does
// once the archive has been read. Run under Wine: make bench_dialog_fill.
// The dialog's show handler reads the archive and fills the list; reading the
// same archive alone, in the same run, is the peer that tells the two apart.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dialog/form.hpp"
#include "tests/archive_builder.hpp"

namespace {

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    using namespace vexmira;
    constexpr int kEntries = 100000;
    constexpr int kRuns = 7;

    testing::ArchiveBuilder builder;
    char name[32];
    for (int i = 0; i < kEntries; ++i) {
        std::snprintf(name, sizeof name, "file%06d.dat", i);
        builder.Add(name, i, 0);
    }
    const testing::TempDir dir;
    const std::string path = (dir / "names.ARC").string();
    testing::WriteFile(path, builder.Build());

    dialog::TForm1 dialogForm;
    ShowWindow(dialogForm.Handle(), SW_SHOW);
    HWND list = dialogForm.ControlHandle(form::Row("ListBox1"));
    dialog::SourcePath = path;

    std::vector<double> shows, reads;
    LARGE_INTEGER start{}, end{};
    for (int run = 0; run < kRuns; ++run) {
        QueryPerformanceCounter(&start);
        dialogForm.FormShow();
        QueryPerformanceCounter(&end);
        shows.push_back(Seconds(start, end));

        archive::EntryList entries;
        QueryPerformanceCounter(&start);
        dialogForm.Compress1.ScanArchiveFile(path, entries);
        QueryPerformanceCounter(&end);
        reads.push_back(Seconds(start, end));
        archive::TCompress::FreeFileList(&entries);
        std::printf("run %d: %d items; show %.3f s, reading alone %.3f s\n", run + 1,
                    static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0)), shows.back(), reads.back());
    }
    std::printf("%d names: show median %.3f s, reading alone median %.3f s, so filling about %.3f s\n", kEntries,
                Median(shows), Median(reads), Median(shows) - Median(reads));
    return 0;
}
