// A persistent team of threads that shares out the rows of a raster. The
// threads are started once and kept (starting threads at every hour step
// would cost more than a small sector's step); rows go out a few at a time
// from one counter, so fast and slow rows even out between threads.
#pragma once

#include <cstdint>
#include <functional>

// Threads to use for `asked` (0 = one per hardware thread), at least 1.
int ShadeThreadCount(int asked);

// Calls fn(y, worker) once for every y in 0..rows-1 on `threads` threads
// (the caller is worker 0, the others 1..threads-1) and returns when all
// rows are done. Which thread takes a row varies; fn must give each row
// the same result whoever runs it. Not reentrant: one caller at a time.
void ForEachRow(int threads, int32_t rows, const std::function<void(int32_t y, int worker)>& fn);
