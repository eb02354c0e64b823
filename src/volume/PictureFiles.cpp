#include "volume/PictureFiles.h"

#include "util/Errors.h"
#include "util/PendingFiles.h"
#include "util/Strings.h"

#include <cstdlib>
#include <jpeglib.h>
#include <string_view>

namespace tarvicon {

namespace {

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

// Both writers encode in memory and hand the file over whole: a failed write (a full disk)
// leaves no half picture, and an existing file of that name stays as it was.
void SaveJpeg(const TBitmap32& picture, const std::string& path) {
    CheckEmpty(picture);
    TPendingFile file(path);
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
    unsigned char* bytes = nullptr; // libjpeg's, grown with malloc
    unsigned long size = 0;
    struct TRelease {
        unsigned char*& bytes;
        ~TRelease() { std::free(bytes); }
    } const release{bytes};
    jpeg_mem_dest(&info, &bytes, &size);
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
    file.Write(std::string_view(reinterpret_cast<const char*>(bytes), size));
    file.Commit();
}

void SaveBmp(const TBitmap32& picture, const std::string& path) {
    CheckEmpty(picture);
    TPendingFile file(path);
    const std::uint32_t imageBytes = std::uint32_t(picture.ByteSize());
    std::string bytes;
    bytes.reserve(54 + picture.ByteSize());
    bytes += "BM";
    Put32(bytes, 54 + imageBytes);
    Put32(bytes, 0);
    Put32(bytes, 54);
    Put32(bytes, 40); // BITMAPINFOHEADER
    Put32(bytes, std::uint32_t(picture.Width()));
    Put32(bytes, std::uint32_t(picture.Height())); // positive: bottom row first
    Put16(bytes, 1);
    Put16(bytes, 32);
    Put32(bytes, 0); // uncompressed
    Put32(bytes, imageBytes);
    Put32(bytes, 2835); // 72 dpi
    Put32(bytes, 2835);
    Put32(bytes, 0);
    Put32(bytes, 0);
    const std::size_t rowBytes = std::size_t(picture.Width()) * 4;
    for (int y = picture.Height() - 1; y >= 0; --y) {
        // Pixels are 0xAARRGGBB in host order: bytes B, G, R, A on this little-endian system.
        const auto* row = picture.Bits() + std::size_t(y) * std::size_t(picture.Width());
        bytes.append(reinterpret_cast<const char*>(row), rowBytes);
    }
    file.Write(bytes);
    file.Commit();
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
