// SPDX-License-Identifier: MIT
#include "station/station_texts.h"

namespace kx {

std::string OpenRefusalTitle(OpenFailure failure) {
    switch (failure) {
        case OpenFailure::NoPermission:
            return "设备无法打开：没有访问权限";
        case OpenFailure::Busy:
            return "设备无法打开：设备正被其他程序使用";
        default:
            return "设备无法打开";
    }
}

std::string OpenRefusalMessage(OpenFailure failure, const std::string& family) {
    const std::string found = "找到了" + family + "，";
    switch (failure) {
        case OpenFailure::NoPermission:
            return found +
                   "但当前用户没有权限打开它。\n"
                   "请安装 packaging 文件夹中的 udev 规则 70-kaldrixplus.rules"
                   "（复制到 /etc/udev/rules.d/ 后运行 sudo udevadm control --reload），"
                   "然后拔下测试板再重新插上。\n"
                   "规则已安装但没有本地登录会话时（例如自动登录或远程桌面），"
                   "请把当前用户加入 plugdev 组（sudo usermod -aG plugdev 用户名），"
                   "重新登录后再试。";
        case OpenFailure::Busy:
            return found +
                   "但它正被其他程序使用。\n"
                   "请关闭占用测试板的其他程序（例如另一个正在运行的 KaldrixPlus），"
                   "然后拔下测试板再重新插上。";
        default:
            return found +
                   "但无法打开它。\n"
                   "请拔下测试板再重新插上；如果仍然不行，请换一个 USB 接口或检查 USB 线。";
    }
}

std::string NoAnswerMessage(const std::string& family) {
    return family +
           "没有应答，未能读出测试板中保存的测试设置（界面上显示的是原来的设置）。\n"
           "请拔下测试板再重新插上；如果仍然不行，请换一个 USB 接口或检查 USB 线。";
}

}  // namespace kx
