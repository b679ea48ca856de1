// Resources on Windows: PNG images decoded with WIC, dialog templates read
// from the module's RT_DIALOG resources, and the CJK font of the texts.
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/visual/Resources.h"

namespace {

struct TemplateTable {
  std::mutex mutex;
  std::map<UINT, DialogTemplate> templates;
};

TemplateTable& Templates() {
  static TemplateTable table;
  return table;
}

// Any address inside this module names it, whether it is the program or the
// dialog DLL.
void ModuleMarker() {}

template <typename T>
void Release(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

std::shared_ptr<const CPngImage> Decode(const void* data, DWORD size) {
  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICFormatConverter* converter = nullptr;
  std::shared_ptr<const CPngImage> image;
  // The caller's thread may not have initialised COM (a test, a tool):
  // initialise it here too; a second initialisation only counts up.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  do {
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory))))
      break;
    if (FAILED(factory->CreateStream(&stream))) break;
    if (FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(data)), size))) break;
    if (FAILED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder))) break;
    if (FAILED(decoder->GetFrame(0, &frame))) break;
    if (FAILED(factory->CreateFormatConverter(&converter))) break;
    if (FAILED(converter->Initialize(frame, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
      break;
    UINT width = 0, height = 0;
    if (FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0) break;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down, as WIC gives the rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) break;
    const UINT stride = width * 4;
    if (FAILED(converter->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(bits)))) {
      DeleteObject(bitmap);
      break;
    }
    image = std::make_shared<CPngImage>(bitmap, static_cast<int>(width), static_cast<int>(height));
  } while (false);
  Release(converter);
  Release(frame);
  Release(decoder);
  Release(stream);
  Release(factory);
  if (SUCCEEDED(com)) CoUninitialize();
  return image;
}

// Reads a sz_Or_Ord field of a dialog template: none, an ordinal, or a
// string; returns the string (empty for an ordinal) and moves p past it.
std::wstring ReadNameOrOrdinal(const WORD*& p, WORD* ordinal) {
  if (ordinal) *ordinal = 0;
  if (*p == 0x0000) {
    ++p;
    return {};
  }
  if (*p == 0xFFFF) {
    if (ordinal) *ordinal = p[1];
    p += 2;
    return {};
  }
  std::wstring text(reinterpret_cast<const wchar_t*>(p));
  p += text.size() + 1;
  return text;
}

const WORD* AlignToDword(const WORD* p) {
  return reinterpret_cast<const WORD*>((reinterpret_cast<std::uintptr_t>(p) + 3) & ~std::uintptr_t{3});
}

int CALLBACK FaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FaceInstalled(const std::wstring& face) {
  if (face.empty() || face.size() >= LF_FACESIZE) return false;
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  wcscpy(wanted.lfFaceName, face.c_str());
  bool found = false;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExW(screen, &wanted, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

}  // namespace

int DialogUnitsToPixels(int units) { return units * 3 / 2; }

CRect DialogRectToPixels(int x, int y, int width, int height) {
  return CRect(DialogUnitsToPixels(x), DialogUnitsToPixels(y), DialogUnitsToPixels(x + width),
               DialogUnitsToPixels(y + height));
}

void RegisterDialogTemplate(UINT templateId, DialogTemplate tmpl) {
  auto& table = Templates();
  std::lock_guard lock(table.mutex);
  table.templates[templateId] = std::move(tmpl);
}

const DialogTemplate* FindDialogTemplate(UINT templateId) {
  auto& table = Templates();
  std::lock_guard lock(table.mutex);
  auto it = table.templates.find(templateId);
  // Entries are never removed, only replaced before any dialog runs.
  return it == table.templates.end() ? nullptr : &it->second;
}

CPngImage::CPngImage(HBITMAP bitmap, int width, int height) : bitmap_(bitmap), width_(width), height_(height) {}

CPngImage::~CPngImage() { DeleteObject(bitmap_); }

void CPngImage::Draw(HDC dc, int x, int y, int width, int height) const {
  DrawPart(dc, RECT{x, y, x + width, y + height}, RECT{0, 0, width_, height_});
}

void CPngImage::DrawPart(HDC dc, const RECT& target, const RECT& source) const {
  if (target.right <= target.left || target.bottom <= target.top || source.right <= source.left ||
      source.bottom <= source.top)
    return;
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, bitmap_);
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  AlphaBlend(dc, target.left, target.top, target.right - target.left, target.bottom - target.top, memory, source.left,
             source.top, source.right - source.left, source.bottom - source.top, blend);
  SelectObject(memory, old);
  DeleteDC(memory);
}

COLORREF CPngImage::PixelAt(int x, int y) const {
  DIBSECTION section{};
  if (x < 0 || y < 0 || x >= width_ || y >= height_ || GetObjectW(bitmap_, sizeof section, &section) == 0) return 0;
  const auto* row = static_cast<const BYTE*>(section.dsBm.bmBits) + static_cast<std::size_t>(y) * width_ * 4;
  const BYTE* pixel = row + static_cast<std::size_t>(x) * 4;
  // Premultiplied: undo it so that a half-transparent pixel reads its colour.
  const unsigned alpha = pixel[3];
  auto plain = [alpha](BYTE c) { return static_cast<BYTE>(alpha == 0 ? 0 : std::min(255u, c * 255u / alpha)); };
  return RGB(plain(pixel[2]), plain(pixel[1]), plain(pixel[0]));
}

HINSTANCE VisualResourceModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ModuleMarker), &module);
  return module;
}

std::shared_ptr<const CPngImage> LoadImageResource(UINT id) {
  static std::mutex mutex;
  static std::map<UINT, std::shared_ptr<const CPngImage>> cache;
  std::lock_guard lock(mutex);
  if (auto it = cache.find(id); it != cache.end()) return it->second;
  HINSTANCE module = VisualResourceModule();
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
  if (found == nullptr) return nullptr;
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) return nullptr;
  auto image = Decode(data, SizeofResource(module, found));
  if (image) cache[id] = image;
  return image;
}

bool LoadDialogTemplateResource(UINT id, DialogTemplate& tmpl) {
  HINSTANCE module = VisualResourceModule();
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const auto* p = static_cast<const WORD*>(loaded != nullptr ? LockResource(loaded) : nullptr);
  // An extended template starts with version 1 and the signature 0xFFFF.
  if (p == nullptr || p[0] != 1 || p[1] != 0xFFFF) return false;
  DWORD style = 0;
  std::memcpy(&style, p + 6, sizeof style);
  const WORD count = p[8];
  tmpl = DialogTemplate{};
  tmpl.width = static_cast<short>(p[11]);
  tmpl.height = static_cast<short>(p[12]);
  p += 13;
  ReadNameOrOrdinal(p, nullptr);  // menu
  ReadNameOrOrdinal(p, nullptr);  // class
  ReadNameOrOrdinal(p, nullptr);  // title
  if (style & DS_SETFONT) {
    p += 3;  // point size, weight, italic and character set
    tmpl.fontName = WideToUtf8(ReadNameOrOrdinal(p, nullptr));
  }
  for (WORD i = 0; i < count; ++i) {
    p = AlignToDword(p);
    DWORD itemStyle = 0, itemId = 0;
    std::memcpy(&itemStyle, p + 4, sizeof itemStyle);
    DialogControlTemplate item{};
    item.x = static_cast<short>(p[6]);
    item.y = static_cast<short>(p[7]);
    item.width = static_cast<short>(p[8]);
    item.height = static_cast<short>(p[9]);
    std::memcpy(&itemId, p + 10, sizeof itemId);
    item.id = static_cast<int>(itemId);
    p += 12;
    WORD atom = 0;
    const std::wstring className = ReadNameOrOrdinal(p, &atom);
    item.kind = atom == 0x0080 || _wcsicmp(className.c_str(), L"Button") == 0 ? DialogControlTemplate::Kind::Button
                                                                             : DialogControlTemplate::Kind::Static;
    item.text = WideToUtf8(ReadNameOrOrdinal(p, nullptr));
    const WORD extra = *p++;
    p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
    item.visible = (itemStyle & WS_VISIBLE) != 0;
    item.notify = item.kind == DialogControlTemplate::Kind::Static && (itemStyle & SS_NOTIFY) != 0;
    tmpl.controls.push_back(std::move(item));
  }
  return true;
}

HFONT CreateTemplateFont(const std::string& fontName, int pixelHeight, bool bold, bool underline) {
  static std::once_flag once;
  static std::wstring fallback;
  std::call_once(once, [] {
    for (const wchar_t* face : {L"WenQuanYi Micro Hei", L"Noto Sans CJK SC", L"Microsoft YaHei", L"SimSun"}) {
      if (FaceInstalled(face)) {
        fallback = face;
        break;
      }
    }
  });
  std::wstring face = Utf8ToWide(fontName);
  if (!FaceInstalled(face)) face = fallback;
  LOGFONTW font{};
  font.lfHeight = -pixelHeight;  // the character's height, as Qt's pixel size
  font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font.lfUnderline = underline ? TRUE : FALSE;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = ANTIALIASED_QUALITY;
  if (face.size() < LF_FACESIZE) wcscpy(font.lfFaceName, face.c_str());
  return CreateFontIndirectW(&font);
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr, nullptr);
  return narrow;
}
