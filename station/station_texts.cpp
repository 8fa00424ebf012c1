// SPDX-License-Identifier: MIT
#include "station/station_texts.h"

#include <array>

#include "station/family_table.h"

namespace kx {

std::string TitleWithUnusedBoard(const std::string& title, const std::string& other) {
    return FormatText(TrText("StationTexts", "%1（另有%2未使用）"),
                      {title, ShownFamilyName(other)});
}

std::string OpenRefusalTitle(OpenFailure failure) {
    switch (failure) {
        case OpenFailure::NoPermission:
            return TrText("StationTexts", "设备无法打开：没有访问权限");
        case OpenFailure::Busy:
            return TrText("StationTexts", "设备无法打开：设备正被其他程序使用");
        default:
            return TrText("StationTexts", "设备无法打开");
    }
}

std::string OpenRefusalMessage(OpenFailure failure, const std::string& family) {
    switch (failure) {
        case OpenFailure::NoPermission:
            return FormatText(
                TrText("StationTexts",
                       "找到了%1，但当前用户没有权限打开它。\n"
                       "请安装 packaging 文件夹中的 udev 规则 70-kaldrixplus.rules"
                       "（复制到 /etc/udev/rules.d/ 后运行 sudo udevadm control --reload），"
                       "然后拔下测试板再重新插上。\n"
                       "规则已安装但没有本地登录会话时（例如自动登录或远程桌面），"
                       "请把当前用户加入 plugdev 组（sudo usermod -aG plugdev 用户名），"
                       "重新登录后再试。"),
                {ShownFamilyName(family)});
        case OpenFailure::Busy:
            return FormatText(
                TrText("StationTexts",
                       "找到了%1，但它正被其他程序使用。\n"
                       "请关闭占用测试板的其他程序（例如另一个正在运行的 KaldrixPlus），"
                       "然后拔下测试板再重新插上。"),
                {ShownFamilyName(family)});
        default:
            return FormatText(
                TrText("StationTexts",
                       "找到了%1，但无法打开它。\n"
                       "请拔下测试板再重新插上；如果仍然不行，请换一个 USB 接口或检查 USB 线。"),
                {ShownFamilyName(family)});
    }
}

std::string NoAnswerMessage(const std::string& family) {
    return FormatText(
        TrText("StationTexts",
               "%1没有应答，未能读出测试板中保存的测试设置（界面上显示的是原来的设置）。\n"
               "请拔下测试板再重新插上；如果仍然不行，请换一个 USB 接口或检查 USB 线。"),
        {ShownFamilyName(family)});
}

std::string DeviceTypeName(int type) {
    static constexpr std::array<const char*, 6> kNames{
        KX_TRANSLATE_NOOP("StationTexts", "普通版"), KX_TRANSLATE_NOOP("StationTexts", "一号机"),
        KX_TRANSLATE_NOOP("StationTexts", "二号机"), KX_TRANSLATE_NOOP("StationTexts", "三号机"),
        KX_TRANSLATE_NOOP("StationTexts", "四号机"), KX_TRANSLATE_NOOP("StationTexts", "五号机")};
    if (type < 0 || type >= static_cast<int>(kNames.size())) {
        return {};
    }
    return TrText("StationTexts", kNames[static_cast<std::size_t>(type)]);
}

std::string IdleNoteNoBoard(bool unplugged, bool rescanning) {
    if (rescanning) {
        return unplugged ? TrText("StationTexts",
                                  "测试板已拔下（本机没有运行 udev 服务）\n"
                                  "重新插上测试板后，程序在 2 秒内发现它并自动连接。\n"
                                  "要立即发现插拔，请启动 udev 服务"
                                  "（sudo systemctl start systemd-udevd）后重新打开程序。")
                         : TrText("StationTexts",
                                  "未检测到测试板（本机没有运行 udev 服务）\n"
                                  "插上测试板后，程序在 2 秒内发现它并自动连接。\n"
                                  "要立即发现插拔，请启动 udev 服务"
                                  "（sudo systemctl start systemd-udevd）后重新打开程序。");
    }
    return unplugged ? TrText("StationTexts",
                              "测试板已拔下\n"
                              "重新插上测试板后会自动连接。\n"
                              "如果并没有拔下，请检查 USB 线和 USB 接口。")
                     : TrText("StationTexts",
                              "未检测到测试板\n"
                              "请用 USB 线把测试板接到本机，插上后会自动连接。");
}

std::string IdleNoteOtherDeviceType(const std::string& family, int boardType, int checkedType) {
    return FormatText(
        TrText("StationTexts",
               "找到了%1，但它属于设备类型“%2”\n"
               "当前选择的设备类型是“%3”。\n"
               "请在菜单 操作 > 设备类型 中选择“%2”。"),
        {ShownFamilyName(family), DeviceTypeName(boardType), DeviceTypeName(checkedType)});
}

std::string IdleNoteRefused(OpenFailure failure, const std::string& family) {
    switch (failure) {
        case OpenFailure::NoPermission:
            return FormatText(TrText("StationTexts",
                                     "找到了%1，但没有权限打开它\n"
                                     "请安装 udev 规则 70-kaldrixplus.rules（做法见弹出的提示），"
                                     "然后拔下测试板再重新插上。"),
                              {ShownFamilyName(family)});
        case OpenFailure::Busy:
            return FormatText(TrText("StationTexts",
                                     "找到了%1，但它正被其他程序使用\n"
                                     "请关闭占用测试板的其他程序，然后拔下测试板再重新插上。"),
                              {ShownFamilyName(family)});
        default:
            return FormatText(TrText("StationTexts",
                                     "找到了%1，但无法打开它\n"
                                     "请拔下测试板再重新插上；"
                                     "如果仍然不行，请换一个 USB 接口或检查 USB 线。"),
                              {ShownFamilyName(family)});
    }
}

}  // namespace kx
