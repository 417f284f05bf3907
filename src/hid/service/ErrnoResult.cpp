#include "hid/service/ErrnoResult.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "i18n/Translate.h"

namespace hidservice {

namespace {

struct ErrnoText {
  int err;
  const char* name;
  const char* meaning;
};

// The failures opening and reading an input node can meet.
constexpr ErrnoText kErrnoTexts[] = {
    {EACCES, "EACCES", i18n::trNoop("没有读取权限")},
    {EPERM, "EPERM", i18n::trNoop("操作不被允许")},
    {EBUSY, "EBUSY", i18n::trNoop("设备已被其他程序独占")},
    {ENOENT, "ENOENT", i18n::trNoop("设备节点不存在")},
    {ENODEV, "ENODEV", i18n::trNoop("设备已被拔出")},
    {ENXIO, "ENXIO", i18n::trNoop("设备不存在或已断开")},
    {EIO, "EIO", i18n::trNoop("输入/输出错误，设备可能已断开")},
    {EINVAL, "EINVAL", i18n::trNoop("参数无效")},
    {EMFILE, "EMFILE", i18n::trNoop("本进程打开的文件过多")},
    {ENFILE, "ENFILE", i18n::trNoop("系统打开的文件过多")},
    {ENOMEM, "ENOMEM", i18n::trNoop("内存不足")},
    {ENOBUFS, "ENOBUFS", i18n::trNoop("缓冲区空间不足")},
    {EAGAIN, "EAGAIN", i18n::trNoop("资源暂时不可用")},
    {EINTR, "EINTR", i18n::trNoop("被信号中断")},
    {EBADF, "EBADF", i18n::trNoop("文件描述符无效")},
    {ENOTTY, "ENOTTY", i18n::trNoop("不是输入设备")},
};

const ErrnoText* find(int err) {
  for (const ErrnoText& t : kErrnoTexts) {
    if (t.err == err) return &t;
  }
  return nullptr;
}

}  // namespace

std::string errnoName(int err) {
  if (const ErrnoText* t = find(err)) return t->name;
  if (const char* name = ::strerrorname_np(err)) return name;
  return "errno " + std::to_string(err);
}

std::string errnoMeaning(int err) {
  if (const ErrnoText* t = find(err)) return i18n::tr(t->meaning);
  char buf[128];
  // The GNU strerror_r returns the text, which may not be in buf.
  return ::strerror_r(err, buf, sizeof buf);
}

ResultKind errnoKind(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
      return ResultKind::NotPermitted;
    case EBUSY:
      return ResultKind::Busy;
    case ENODEV:
      return ResultKind::Gone;
    default:
      return ResultKind::Failed;
  }
}

Result errnoResult(std::string_view operation, int err) {
  const std::string op(operation), name = errnoName(err), meaning = errnoMeaning(err);
  // The operation and the errno name are Linux's words in every language.
  const char* format = i18n::tr("%s failed: %s（%s）");
  const int n = std::snprintf(nullptr, 0, format, op.c_str(), name.c_str(), meaning.c_str());
  std::string text(static_cast<std::size_t>(n), '\0');
  std::snprintf(text.data(), text.size() + 1, format, op.c_str(), name.c_str(), meaning.c_str());
  return Result::failure(errnoKind(err), err, std::move(text));
}

}  // namespace hidservice
