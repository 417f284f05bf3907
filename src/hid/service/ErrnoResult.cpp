#include "hid/service/ErrnoResult.h"

#include <cerrno>
#include <cstring>

namespace hidservice {

namespace {

struct ErrnoText {
  int err;
  const char* name;
  const char* meaning;
};

// The failures opening and reading an input node can meet.
constexpr ErrnoText kErrnoTexts[] = {
    {EACCES, "EACCES", "没有读取权限"},
    {EPERM, "EPERM", "操作不被允许"},
    {EBUSY, "EBUSY", "设备已被其他程序独占"},
    {ENOENT, "ENOENT", "设备节点不存在"},
    {ENODEV, "ENODEV", "设备已被拔出"},
    {ENXIO, "ENXIO", "设备不存在或已断开"},
    {EIO, "EIO", "输入/输出错误，设备可能已断开"},
    {EINVAL, "EINVAL", "参数无效"},
    {EMFILE, "EMFILE", "本进程打开的文件过多"},
    {ENFILE, "ENFILE", "系统打开的文件过多"},
    {ENOMEM, "ENOMEM", "内存不足"},
    {ENOBUFS, "ENOBUFS", "缓冲区空间不足"},
    {EAGAIN, "EAGAIN", "资源暂时不可用"},
    {EINTR, "EINTR", "被信号中断"},
    {EBADF, "EBADF", "文件描述符无效"},
    {ENOTTY, "ENOTTY", "不是输入设备"},
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
  if (const ErrnoText* t = find(err)) return t->meaning;
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
  std::string text(operation);
  text += " failed: ";
  text += errnoName(err);
  text += "（";
  text += errnoMeaning(err);
  text += "）";
  return Result::failure(errnoKind(err), err, std::move(text));
}

}  // namespace hidservice
