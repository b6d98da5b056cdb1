// libpng reading from and writing to memory, for the benchmark.
#pragma once
#include <png.h>

#include <cstring>
#include <vector>

namespace pngmem {

struct Writer {
    std::vector<unsigned char> out;
    static void Write(png_structp p, png_bytep d, png_size_t n)
    {
        auto* w = static_cast<Writer*>(png_get_io_ptr(p));
        w->out.insert(w->out.end(), d, d + n);
    }
    static void Flush(png_structp) {}
};

struct Reader {
    const std::vector<unsigned char>* in;
    size_t pos;
    static void Read(png_structp p, png_bytep d, png_size_t n)
    {
        auto* r = static_cast<Reader*>(png_get_io_ptr(p));
        if (r->pos + n > r->in->size())
            png_error(p, "read past the end");
        memcpy(d, r->in->data() + r->pos, n);
        r->pos += n;
    }
};

} // namespace pngmem
