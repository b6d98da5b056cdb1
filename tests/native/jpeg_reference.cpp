// The plain reference decoder (see jpeg_reference.h). Written for clarity,
// not speed: one bit at a time, one length at a time, every plane in full.
#include "jpeg_reference.h"

#include <cmath>
#include <cstring>

namespace {

const int kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// 32-bit two's complement arithmetic, computed wide and wrapped.
int32_t Wrap(int64_t v) { return (int32_t)(uint32_t)(uint64_t)v; }
int32_t Mul6(int32_t v, int32_t c) { return Wrap((int64_t)v * c) >> 6; }

struct Huffman {
    bool defined = false;
    int maxcode[17];
    int mincode[17];
    int first[17];
    uint8_t symbols[256];
    int shortest = 17;
};

struct Quant {
    bool defined = false;
    uint32_t scaled[64];
};

struct Component {
    bool inFrame = false;
    int h = 0, v = 0, tq = 0;
    int hrep = 1, vrep = 1;
    uint32_t pred = 0;
    uint32_t eobrun = 0;
    int dcSel = 0, acSel = 0;
    int scanDown = 0, scanAcross = 0, fullDown = 0, fullAcross = 0;
    bool used = false;
    std::vector<uint8_t> plane;
    std::vector<int16_t> coef;
};

class Decoder {
public:
    Decoder(const uint8_t* data, size_t size) : d_(data), end_(size) {}
    ReferencePicture Run();

private:
    // ---- bytes
    bool Byte(int& b)
    {
        if (pos_ >= end_)
            return Error();
        b = d_[pos_++];
        return true;
    }
    bool Word(int& w)
    {
        int hi, lo;
        if (!Byte(hi) || !Byte(lo))
            return false;
        w = hi * 256 + lo;
        return true;
    }
    bool Error()
    {
        err_ = true;
        return false;
    }

    // ---- bits
    bool Bit(int& bit)
    {
        if (bitsLeft_ == 0) {
            if (d_[bp_] == 0xFF) {
                if (bp_ + 1 >= end_ || d_[bp_ + 1] != 0)
                    return Error();
                bp_ += 2;
            } else {
                bp_ += 1;
            }
            bitsLeft_ = 8;
        }
        if (bp_ >= end_)
            return Error();
        bit = (d_[bp_] >> (bitsLeft_ - 1)) & 1;
        --bitsLeft_;
        return true;
    }
    bool Bits(int n, int& value)
    {
        value = 0;
        for (int i = 0; i < n; ++i) {
            int b;
            if (!Bit(b))
                return false;
            value = value * 2 + b;
        }
        return true;
    }
    bool Align()
    {
        if (bitsLeft_ >= 0 && bitsLeft_ < 8) {
            if (bp_ >= end_)
                return Error();
            if (d_[bp_] == 0xFF) {
                if (bp_ + 1 >= end_ || d_[bp_ + 1] != 0)
                    return Error();
                bp_ += 2;
            } else {
                bp_ += 1;
            }
        }
        bitsLeft_ = -1;
        return true;
    }
    bool Decode(const Huffman& h, int& symbol)
    {
        if (h.shortest > 16)
            return Error();
        int v;
        if (!Bits(h.shortest, v))
            return false;
        int len = h.shortest;
        while (v > h.maxcode[len]) {
            if (len == 16)
                return Error();
            int b;
            if (!Bit(b))
                return false;
            v = v * 2 + b;
            ++len;
        }
        symbol = h.symbols[h.first[len] + v - h.mincode[len]];
        return true;
    }
    static int Extend(int v, int s)
    {
        if (s == 0)
            return 0;
        return v < (1 << (s - 1)) ? v - (1 << s) + 1 : v;
    }
    bool Receive(int s, int& value)
    {
        int v;
        if (!Bits(s, v))
            return false;
        value = Extend(v, s);
        return true;
    }

    // ---- segments
    bool Remaining(int& remaining);   // bytes after the length field
    bool Marker();
    bool Dqt();
    bool Dht();
    bool Frame();
    bool Scan();
    bool Restart();
    bool SequentialBlock(Component& c, int row, int col);
    bool ProgressiveBlock(Component& c, int row, int col);
    bool Refine(int16_t& coef);
    void Idct(const int16_t* coef, const uint32_t* q, uint8_t* out);
    void Build();

    const uint8_t* d_;
    size_t pos_ = 0;
    size_t end_;
    bool err_ = false, eoi_ = false, frame_ = false, progressive_ = false;
    int bitsLeft_ = -1;
    size_t bp_ = 0;
    int restartInterval_ = 0, expectedRst_ = 0;
    int width_ = 0, height_ = 0, maxH_ = 0, maxV_ = 0, mcusAcross_ = 0, mcusDown_ = 0;
    Component comp_[256];
    std::vector<int> frameIds_;
    std::vector<int> scanIds_;
    int ss_ = 0, se_ = 0, ah_ = 0, al_ = 0;
    Huffman dc_[4], ac_[4];
    Quant quant_[4];
    int scans_ = 0;
    std::vector<uint8_t> dib_;
};

ReferencePicture Decoder::Run()
{
    ReferencePicture result;
    size_t p = 0;
    while (p < 144 && p < end_ && d_[p] < 0xFF)
        ++p;
    if (p + 4 > end_ || d_[p] != 0xFF || d_[p + 1] != 0xD8 || d_[p + 2] != 0xFF)
        return result;
    if (d_[p + 3] == 0xDB) {
        pos_ = p + 2;
    } else if (d_[p + 3] == 0xE0 || d_[p + 3] == 0xE1) {
        if (p + 11 > end_)
            return result;
        bool jfif = memcmp(d_ + p + 6, "JFIF", 5) == 0, exif = memcmp(d_ + p + 6, "Exif", 5) == 0;
        if (!jfif && !exif)
            return result;
        pos_ = p + 4 + (d_[p + 4] * 256 + d_[p + 5]);
        if (pos_ > end_)
            pos_ = end_;
    } else {
        return result;
    }
    int b;
    if (Byte(b)) {
        while (!err_ && !eoi_) {
            if (b == 0xFF) {
                if (!Marker() || eoi_)
                    break;
            }
            if (!Byte(b))
                break;
        }
    }
    if (err_ || !eoi_ || !frame_)
        return result;
    Build();
    result.ok = true;
    result.width = width_;
    result.height = height_;
    result.dib = dib_;
    return result;
}

bool Decoder::Marker()
{
    int m;
    do {
        if (!Byte(m))
            return false;
    } while (m == 0xFF);
    if (m == 0x00 || m == 0xD8)
        return true;
    if (m == 0xC0 || m == 0xC1 || m == 0xC2) {
        if (frame_)
            return Error();
        progressive_ = m == 0xC2;
        return Frame();
    }
    if (m == 0xC4)
        return Dht();
    if (m == 0xDB)
        return Dqt();
    if (m == 0xDD) {
        int len;
        return Word(len) && Word(restartInterval_);
    }
    if (m == 0xDA)
        return Scan();
    if (m == 0xD9) {
        eoi_ = true;
        return true;
    }
    if ((m >= 0xE0 && m <= 0xEF) || m == 0xFE) {
        int skip;
        if (!Remaining(skip))
            return false;
        if (pos_ + skip > end_)
            return Error();
        pos_ += skip;
        return true;
    }
    bool refused = m == 0xC3 || (m >= 0xC5 && m <= 0xC7) || (m >= 0xC9 && m <= 0xCB) || (m >= 0xCD && m <= 0xCF) ||
                   m == 0xDE;
    if (!refused) {
        int ignored;
        Byte(ignored);
    }
    return Error();
}

bool Decoder::Remaining(int& remaining)
{
    int len;
    if (!Word(len))
        return false;
    if (len < 2)
        return Error();
    remaining = len - 2;
    return true;
}

bool Decoder::Dqt()
{
    int remaining;
    if (!Remaining(remaining))
        return false;
    while (remaining != 0) {
        int pq;
        if (!Byte(pq))
            return false;
        if ((pq & 15) >= 4 || (pq >> 4) != 0 || remaining < 65)
            return Error();
        int raw[64];
        for (int k = 0; k < 64; ++k) {
            if (!Byte(raw[k]))
                return false;
            if (raw[k] == 0)
                return Error();
        }
        // f(k) from its cosine; the small epsilon undoes the rounding error
        // that would truncate the exactly integral entries one too low.
        const long double pi = std::acos(-1.0L);
        Quant& q = quant_[pq & 15];
        for (int k = 0; k < 64; ++k) {
            int n = kZigzag[k];
            auto f = [&](int i) { return i == 0 ? 1.0L : 1.0L / (std::sqrt(2.0L) * std::cos(i * pi / 16)); };
            long double value = 4096.0L * f(n / 8) * f(n % 8) / 8.0L * raw[k];
            q.scaled[n] = (uint32_t)(value + 1e-9L);
        }
        q.defined = true;
        remaining -= 65;
    }
    return true;
}

bool Decoder::Dht()
{
    int remaining;
    if (!Remaining(remaining))
        return false;
    while (remaining != 0) {
        int tc;
        if (!Byte(tc))
            return false;
        if ((tc & 15) > 3)
            return Error();
        int counts[17], sum = 0;
        for (int i = 1; i <= 16; ++i) {
            if (!Byte(counts[i]))
                return false;
            sum += counts[i];
        }
        if (sum > 256 || remaining < 17 + sum)
            return Error();
        Huffman& h = tc < 16 ? dc_[tc & 15] : ac_[tc & 15];
        for (int i = 0; i < sum; ++i) {
            int s;
            if (!Byte(s))
                return false;
            h.symbols[i] = (uint8_t)s;
        }
        int code = 0, index = 0;
        h.shortest = 17;
        for (int l = 1; l <= 16; ++l) {
            if (counts[l] == 0) {
                h.maxcode[l] = -1;
                h.mincode[l] = 257;
                h.first[l] = 0;
            } else {
                if (h.shortest == 17)
                    h.shortest = l;
                h.first[l] = index;
                h.mincode[l] = code;
                for (int i = 0; i < counts[l]; ++i) {
                    ++index;
                    ++code;
                }
                h.maxcode[l] = code - 1;
            }
            code *= 2;
        }
        h.defined = true;
        remaining -= 17 + sum;
    }
    return true;
}

bool Decoder::Frame()
{
    int len, precision, count;
    if (!Word(len) || !Byte(precision))
        return false;
    if (precision != 8)
        return Error();
    if (!Word(height_) || !Word(width_) || !Byte(count))
        return false;
    if ((count != 1 && count != 3) || len != 8 + 3 * count || width_ == 0 || height_ == 0)
        return Error();
    for (int i = 0; i < count; ++i) {
        int id, hv, tq;
        if (!Byte(id) || !Byte(hv) || !Byte(tq))
            return false;
        if (id == 255 || comp_[id].inFrame || hv / 16 == 0 || hv % 16 == 0 || tq > 3)
            return Error();
        Component& c = comp_[id];
        c.inFrame = true;
        c.h = hv / 16;
        c.v = hv % 16;
        c.tq = tq;
        frameIds_.push_back(id);
        maxH_ = std::max(maxH_, c.h);
        maxV_ = std::max(maxV_, c.v);
    }
    for (int id : frameIds_) {
        if (maxH_ % comp_[id].h != 0 || maxV_ % comp_[id].v != 0)
            return Error();
    }
    mcusAcross_ = (width_ + 8 * maxH_ - 1) / (8 * maxH_);
    mcusDown_ = (height_ + 8 * maxV_ - 1) / (8 * maxV_);
    int64_t rowBytes = ((int64_t)width_ * 24 + 31) / 32 * 4;
    if (rowBytes * height_ > 0x7FFFFFFF)
        return Error();
    dib_.assign((size_t)(rowBytes * height_), 0);
    frame_ = true;
    return true;
}

bool Decoder::Restart()
{
    if (!Align())
        return false;
    pos_ = bp_;
    int b;
    if (!Byte(b))
        return false;
    if (b == 0xFF) {
        while (b == 0xFF) {
            if (!Byte(b))
                return false;
        }
    }
    if (b != 0xD0 + expectedRst_)
        return Error();
    expectedRst_ = (expectedRst_ + 1) % 8;
    for (int id : scanIds_)
        comp_[id].pred = 0;
    bp_ = pos_;
    bitsLeft_ = 8;
    return true;
}

bool Decoder::Scan()
{
    if (!frame_)
        return Error();
    int len, ns;
    if (!Word(len) || !Byte(ns))
        return false;
    if (ns < 1 || ns > 3)
        return Error();
    scanIds_.clear();
    for (int i = 0; i < ns; ++i) {
        int id, t;
        if (!Byte(id) || !Byte(t))
            return false;
        if (id == 255 || comp_[id].h == 0)
            return Error();
        for (int other : scanIds_) {
            if (other == id)
                return Error();
        }
        if (t / 16 > 3 || t % 16 > 3)
            return Error();
        comp_[id].dcSel = t / 16;
        comp_[id].acSel = t % 16;
        scanIds_.push_back(id);
    }
    int a;
    if (!Byte(ss_) || !Byte(se_) || !Byte(a))
        return false;
    ah_ = a / 16;
    al_ = a % 16;
    if (progressive_) {
        if (ss_ == 0 && se_ != 0)
            return Error();
        if (se_ > 63 || ss_ > se_ || ah_ > 13 || al_ > 13)
            return Error();
    }
    for (int id : scanIds_) {
        const Component& c = comp_[id];
        if (!quant_[c.tq].defined)
            return Error();
        bool needDc = !progressive_ || ss_ == 0, needAc = !progressive_ || ss_ != 0;
        if ((needDc && !dc_[c.dcSel].defined) || (needAc && !ac_[c.acSel].defined))
            return Error();
    }
    for (int id : scanIds_) {
        Component& c = comp_[id];
        c.pred = 0;
        if (!c.used) {
            c.used = true;
            c.vrep = maxV_ / c.v;
            c.hrep = maxH_ / c.h;
            c.scanDown = (height_ + 8 * c.vrep - 1) / (8 * c.vrep);
            c.scanAcross = (width_ + 8 * c.hrep - 1) / (8 * c.hrep);
            c.fullDown = mcusDown_ * c.v;
            c.fullAcross = mcusAcross_ * c.h;
            c.plane.assign((size_t)c.fullDown * c.fullAcross * 64, 0);
            if (progressive_)
                c.coef.assign((size_t)c.fullDown * c.fullAcross * 64, 0);
        }
    }
    ++scans_;
    bp_ = pos_;
    bitsLeft_ = 8;
    expectedRst_ = 0;

    int sinceRestart = 0;
    auto unit = [&](auto&& body) {
        if (restartInterval_ != 0 && sinceRestart == restartInterval_) {
            if (!Restart())
                return false;
            sinceRestart = 0;
        }
        if (!body())
            return false;
        ++sinceRestart;
        return !err_;
    };
    auto block = [&](Component& c, int row, int col) {
        return progressive_ ? ProgressiveBlock(c, row, col) : SequentialBlock(c, row, col);
    };
    bool interleaved = ns > 1 && !(progressive_ && ss_ != 0);
    if (interleaved) {
        for (int my = 0; my < mcusDown_; ++my) {
            for (int mx = 0; mx < mcusAcross_; ++mx) {
                bool ok = unit([&] {
                    for (int id : scanIds_) {
                        Component& c = comp_[id];
                        for (int v = 0; v < c.v; ++v) {
                            for (int h = 0; h < c.h; ++h) {
                                if (!block(c, my * c.v + v, mx * c.h + h))
                                    return false;
                            }
                        }
                    }
                    return true;
                });
                if (!ok)
                    return Error();
            }
        }
    } else {
        Component& c = comp_[scanIds_[0]];
        for (int row = 0; row < c.scanDown; ++row) {
            for (int col = 0; col < c.scanAcross; ++col) {
                if (!unit([&] { return block(c, row, col); }))
                    return Error();
            }
        }
    }
    if (!Align())
        return false;
    pos_ = bp_;
    return true;
}

bool Decoder::SequentialBlock(Component& c, int row, int col)
{
    int16_t coef[64] = {};
    int t, diff;
    if (!Decode(dc_[c.dcSel], t))
        return false;
    if (t > 16)
        return Error();
    if (!Receive(t, diff))
        return false;
    c.pred += (uint32_t)diff;
    coef[0] = (int16_t)c.pred;
    for (int k = 1; k < 64;) {
        int rs;
        if (!Decode(ac_[c.acSel], rs))
            return false;
        int r = rs >> 4, s = rs & 15;
        if (s == 0) {
            if (r == 15) {
                k += 16;
                continue;
            }
            break;
        }
        k += r;
        if (k >= 64)
            return Error();
        int value;
        if (!Receive(s, value))
            return false;
        coef[kZigzag[k]] = (int16_t)value;
        ++k;
    }
    Idct(coef, quant_[c.tq].scaled, &c.plane[((size_t)row * c.fullAcross + col) * 64]);
    return true;
}

bool Decoder::Refine(int16_t& coef)
{
    int bit;
    if (!Bit(bit))
        return false;
    if (bit)
        coef = (int16_t)(coef > 0 ? coef + (1 << al_) : coef - (1 << al_));
    return true;
}

bool Decoder::ProgressiveBlock(Component& c, int row, int col)
{
    int16_t* coef = &c.coef[((size_t)row * c.fullAcross + col) * 64];
    if (ss_ == 0 && ah_ == 0) {
        int t, diff;
        if (!Decode(dc_[c.dcSel], t))
            return false;
        if (t > 16)
            return Error();
        if (!Receive(t, diff))
            return false;
        c.pred += (uint32_t)diff;
        coef[0] = (int16_t)(c.pred * (1u << al_));
        return true;
    }
    if (ss_ == 0) {
        int bit;
        if (!Bit(bit))
            return false;
        if (bit)
            coef[0] = (int16_t)(coef[0] | (1 << al_));
        return true;
    }
    if (ah_ == 0) {
        if (c.eobrun > 0) {
            --c.eobrun;
            return true;
        }
        for (int k = ss_; k <= se_;) {
            int rs;
            if (!Decode(ac_[c.acSel], rs))
                return false;
            int r = rs >> 4, s = rs & 15;
            if (s != 0) {
                k += r;
                if (k >= 64)
                    return Error();
                int value;
                if (!Receive(s, value))
                    return false;
                coef[kZigzag[k]] = (int16_t)(value * (1 << al_));
                ++k;
            } else if (r == 15) {
                k += 16;
            } else {
                int extra = 0;
                if (!Bits(r, extra))
                    return false;
                c.eobrun = (1u << r) + extra - 1;
                break;
            }
        }
        return true;
    }
    int k = ss_;
    while (true) {
        if (c.eobrun > 0) {
            for (; k <= se_; ++k) {
                if (coef[kZigzag[k]] != 0 && !Refine(coef[kZigzag[k]]))
                    return false;
            }
            --c.eobrun;
            return true;
        }
        if (k > se_)
            return true;
        int rs;
        if (!Decode(ac_[c.acSel], rs))
            return false;
        int r = rs >> 4, s = rs & 15;
        if (s == 1) {
            int sign;
            if (!Bit(sign))
                return false;
            int zeros = 0;
            while (true) {
                if (k > se_)
                    return Error();
                int16_t& x = coef[kZigzag[k]];
                if (x != 0) {
                    if (!Refine(x))
                        return false;
                } else if (zeros < r) {
                    ++zeros;
                } else {
                    break;
                }
                ++k;
            }
            coef[kZigzag[k]] = (int16_t)(sign ? (1 << al_) : -(1 << al_));
            ++k;
        } else if (s != 0) {
            return Error();
        } else if (r == 15) {
            int zeros = 0;
            while (k <= se_ && zeros < 16) {
                int16_t& x = coef[kZigzag[k]];
                if (x != 0) {
                    if (!Refine(x))
                        return false;
                } else {
                    ++zeros;
                }
                ++k;
            }
        } else if (r == 0) {
            c.eobrun = 1;
        } else {
            int extra;
            if (!Bits(r, extra))
                return false;
            c.eobrun = (1u << r) + extra;
        }
    }
}

void Decoder::Idct(const int16_t* coef, const uint32_t* q, uint8_t* out)
{
    const int32_t C4 = (int32_t)(64 * std::cos(std::acos(-1.0) / 4));
    const int32_t C2 = (int32_t)(32 / std::cos(std::acos(-1.0) / 8));
    const int32_t C6 = (int32_t)(32 / std::cos(3 * std::acos(-1.0) / 8));
    auto butterfly = [&](const int32_t* d, int32_t bias, int32_t* o) {
        int32_t e0 = Wrap((int64_t)d[0] + d[4] + bias), e1 = Wrap((int64_t)d[0] - d[4] + bias);
        int32_t e2 = Wrap((int64_t)d[2] + d[6]), e3 = Mul6(Wrap((int64_t)d[2] - d[6]), C4);
        int32_t a = Wrap((int64_t)e0 + e2 + e3), b = Wrap((int64_t)e1 + e3);
        int32_t c = Wrap((int64_t)e1 - e3), g = Wrap((int64_t)e0 - e2 - e3);
        int32_t o1 = Wrap((int64_t)d[1] + d[7]), o2 = Wrap((int64_t)d[1] - d[7]);
        int32_t o3 = Wrap((int64_t)d[5] + d[3]), o4 = Wrap((int64_t)d[5] - d[3]);
        int32_t t0 = Wrap((int64_t)o1 + o3), t1 = Mul6(o2, C2), t2 = Mul6(o4, C6), t3 = Wrap((int64_t)o1 - o3);
        int32_t u0 = Mul6(Wrap((int64_t)t1 + t2), C4), u1 = Mul6(t3, C4), u2 = Wrap((int64_t)t1 - t2);
        int32_t w0 = Wrap((int64_t)u0 + u2 + t0), w1 = Wrap((int64_t)u0 + u1 + u2), w2 = Wrap((int64_t)u0 + u1);
        int32_t w3 = u0;
        o[0] = Wrap((int64_t)a + w0);
        o[1] = Wrap((int64_t)b + w1);
        o[2] = Wrap((int64_t)c + w2);
        o[3] = Wrap((int64_t)g + w3);
        o[4] = Wrap((int64_t)g - w3);
        o[5] = Wrap((int64_t)c - w2);
        o[6] = Wrap((int64_t)b - w1);
        o[7] = Wrap((int64_t)a - w0);
    };
    int32_t tmp[64];
    for (int r = 0; r < 8; ++r) {
        int32_t d[8];
        bool acZero = true;
        for (int i = 0; i < 8; ++i) {
            d[i] = Wrap((int64_t)coef[r * 8 + i] * q[r * 8 + i]);
            if (i > 0 && coef[r * 8 + i] != 0)
                acZero = false;
        }
        if (acZero) {
            for (int i = 0; i < 8; ++i)
                tmp[r * 8 + i] = d[0];
        } else {
            butterfly(d, 0, &tmp[r * 8]);
        }
    }
    for (int col = 0; col < 8; ++col) {
        int32_t d[8], o[8];
        for (int i = 0; i < 8; ++i)
            d[i] = tmp[i * 8 + col];
        butterfly(d, 0x80800, o);
        for (int r = 0; r < 8; ++r) {
            int32_t v = o[r] >> 12;
            out[r * 8 + col] = (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
}

void Decoder::Build()
{
    if (scans_ == 0)
        return;
    std::vector<std::vector<uint8_t>> rep(frameIds_.size());
    std::vector<int> repWidth(frameIds_.size());
    for (size_t i = 0; i < frameIds_.size(); ++i) {
        Component& c = comp_[frameIds_[i]];
        if (!c.used)
            continue;
        if (progressive_) {
            for (size_t b = 0; b < (size_t)c.fullDown * c.fullAcross; ++b)
                Idct(&c.coef[b * 64], quant_[c.tq].scaled, &c.plane[b * 64]);
        }
        int w = c.fullAcross * c.hrep * 8, h = c.fullDown * c.vrep * 8;
        repWidth[i] = w;
        rep[i].assign((size_t)w * h, 0);
        size_t out = 0;
        for (int br = 0; br < c.fullDown; ++br) {
            for (int r = 0; r < 8; ++r) {
                for (int vr = 0; vr < c.vrep; ++vr) {
                    for (int bc = 0; bc < c.fullAcross; ++bc) {
                        for (int s = 0; s < 8; ++s) {
                            for (int hr = 0; hr < c.hrep; ++hr)
                                rep[i][out++] = c.plane[((size_t)br * c.fullAcross + bc) * 64 + r * 8 + s];
                        }
                    }
                }
            }
        }
    }
    int rowBytes = (width_ * 24 + 31) / 32 * 4;
    if (frameIds_.size() == 1) {
        for (int y = 0; y < height_; ++y) {
            uint8_t* row = &dib_[(size_t)(height_ - 1 - y) * rowBytes];
            for (int x = 0; x < width_; ++x)
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = rep[0][(size_t)y * repWidth[0] + x];
        }
        return;
    }
    if (rep[0].empty() || rep[1].empty() || rep[2].empty())
        return;
    int crR[256], cbB[256], cbG[256], crG[256];
    for (int i = 0; i < 256; ++i) {
        int x = i - 128;
        crR[i] = (91881 * x + 32768) >> 16;
        cbB[i] = (116130 * x + 32768) >> 16;
        cbG[i] = 22554 * x;
        crG[i] = 46802 * x;
    }
    auto clamp = [](int v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); };
    for (int y = 0; y < height_; ++y) {
        uint8_t* row = &dib_[(size_t)(height_ - 1 - y) * rowBytes];
        for (int x = 0; x < width_; ++x) {
            size_t at = (size_t)y * repWidth[0] + x;
            int Y = rep[0][at], Cb = rep[1][at], Cr = rep[2][at];
            row[3 * x] = clamp(Y + cbB[Cb]);
            row[3 * x + 1] = clamp(Y - ((cbG[Cb] + crG[Cr] + 32768) >> 16));
            row[3 * x + 2] = clamp(Y + crR[Cr]);
        }
    }
}

} // namespace

ReferencePicture ReferenceDecodeJpeg(const uint8_t* data, size_t size)
{
    Decoder decoder(data, size);
    return decoder.Run();
}
