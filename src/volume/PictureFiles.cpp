#include "volume/PictureFiles.h"

#include "util/Errors.h"
#include "util/Strings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <memory>

namespace tarvicon {

namespace {

struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFile = std::unique_ptr<std::FILE, TFileCloser>;

TFile CreateFile(const std::string& path) {
    TFile file(std::fopen(path.c_str(), "wb"));
    if (!file) RaiseError("Cannot create file \"" + path + "\". " + std::strerror(errno));
    return file;
}

void CheckEmpty(const TBitmap32& picture) {
    if (picture.Width() <= 0 || picture.Height() <= 0) RaiseError("The picture is empty");
}

void JpegError(j_common_ptr info) {
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    throw WException(message);
}

void Put16(std::string& out, std::uint32_t v) {
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

} // namespace

void SaveJpeg(const TBitmap32& picture, const std::string& path) {
    CheckEmpty(picture);
    TFile file = CreateFile(path);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    errors.error_exit = JpegError;
    struct TDestroy {
        jpeg_compress_struct& info;
        ~TDestroy() { jpeg_destroy_compress(&info); }
    };
    jpeg_create_compress(&info);
    const TDestroy destroy{info};
    jpeg_stdio_dest(&info, file.get());
    info.image_width = JDIMENSION(picture.Width());
    info.image_height = JDIMENSION(picture.Height());
    info.in_color_space = JCS_EXT_BGRA;
    info.input_components = 4;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        // libjpeg takes non-const rows but only reads them.
        auto* row =
            reinterpret_cast<JSAMPROW>(const_cast<std::uint32_t*>(picture.Bits()) +
                                       std::size_t(info.next_scanline) * std::size_t(picture.Width()));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    if (std::fflush(file.get()) != 0)
        RaiseError("Cannot write file \"" + path + "\". " + std::strerror(errno));
}

void SaveBmp(const TBitmap32& picture, const std::string& path) {
    CheckEmpty(picture);
    const std::uint32_t imageBytes = std::uint32_t(picture.ByteSize());
    std::string header;
    header += "BM";
    Put32(header, 54 + imageBytes);
    Put32(header, 0);
    Put32(header, 54);
    Put32(header, 40); // BITMAPINFOHEADER
    Put32(header, std::uint32_t(picture.Width()));
    Put32(header, std::uint32_t(picture.Height())); // positive: bottom row first
    Put16(header, 1);
    Put16(header, 32);
    Put32(header, 0); // uncompressed
    Put32(header, imageBytes);
    Put32(header, 2835); // 72 dpi
    Put32(header, 2835);
    Put32(header, 0);
    Put32(header, 0);
    TFile file = CreateFile(path);
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
    const std::size_t rowBytes = std::size_t(picture.Width()) * 4;
    for (int y = picture.Height() - 1; ok && y >= 0; --y) {
        // Pixels are 0xAARRGGBB in host order: bytes B, G, R, A on this little-endian system.
        ok = std::fwrite(picture.Bits() + std::size_t(y) * std::size_t(picture.Width()), 1, rowBytes,
                         file.get()) == rowBytes;
    }
    if (!ok || std::fflush(file.get()) != 0)
        RaiseError("Cannot write file \"" + path + "\". " + std::strerror(errno));
}

void SavePicture(const TBitmap32& picture, const std::string& path) {
    const std::string upper = UpperCase(path);
    const auto endsWith = [&](const char* ext) {
        return upper.size() >= 4 && upper.compare(upper.size() - 4, 4, ext) == 0;
    };
    if (endsWith(".JPG"))
        SaveJpeg(picture, path);
    else if (endsWith(".BMP"))
        SaveBmp(picture, path);
    else
        RaiseError("Unknown picture file extension: " + path);
}

} // namespace tarvicon
