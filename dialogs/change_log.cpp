// SPDX-License-Identifier: MIT
#include "dialogs/change_log.h"

#include <iterator>

#include "core/tr_text.h"

namespace kx {

std::string g_changeLog;

namespace {

struct ChangeLogEntry {
    const char* date;
    const char* version;
    const char* text;
};

// Newest first.
constexpr ChangeLogEntry kEntries[] = {
    {"2026/03/18", "0.1.0.0",
     KX_TRANSLATE_NOOP("ChangeLog", "移植到新的工控机平台，界面与设备通信全部重写")},
    {"2025/12/09", "0.0.9.6",
     KX_TRANSLATE_NOOP("ChangeLog",
                       "设备信息窗口中未读到的字段显示为空，不再显示上一条命令的数据")},
    {"2025/10/21", "0.0.9.5", KX_TRANSLATE_NOOP("ChangeLog", "主板设置窗口增加清急停按钮")},
    {"2025/08/14", "0.0.9.4",
     KX_TRANSLATE_NOOP("ChangeLog", "主板测试头表支持原位编辑，增加重设行列数")},
    {"2025/06/30", "0.0.9.3", KX_TRANSLATE_NOOP("ChangeLog", "主板蜂鸣器增加反转设置")},
    {"2025/05/12", "0.0.9.2", KX_TRANSLATE_NOOP("ChangeLog", "修正主板位置表超过16个位置时的写入")},
    {"2025/03/03", "0.0.9.1", KX_TRANSLATE_NOOP("ChangeLog", "增加主板急停输入的锁存处理")},
    {"2024/12/16", "0.0.9.0", KX_TRANSLATE_NOOP("ChangeLog", "支持多测试头主板，最多10行10列")},
    {"2024/10/08", "0.0.8.3", KX_TRANSLATE_NOOP("ChangeLog", "摄像头窗口可随时打开和关闭")},
    {"2024/08/19", "0.0.8.2", KX_TRANSLATE_NOOP("ChangeLog", "增加摄像头实时画面窗口")},
    {"2024/06/24", "0.0.8.1",
     KX_TRANSLATE_NOOP("ChangeLog", "基准对话框的读数可保存到rawdata.csv")},
    {"2024/04/15", "0.0.8.0",
     KX_TRANSLATE_NOOP("ChangeLog", "基准对话框增加按百分比或固定偏移生成上下限")},
    {"2024/01/22", "0.0.7.4", KX_TRANSLATE_NOOP("ChangeLog", "Velmora5设备信息窗口可修改行列布局")},
    {"2023/11/06", "0.0.7.3", KX_TRANSLATE_NOOP("ChangeLog", "Velmora5最多显示4行4列测试头")},
    {"2023/09/11", "0.0.7.2", KX_TRANSLATE_NOOP("ChangeLog", "修正Velmora5显示范围写入的字节顺序")},
    {"2023/07/03", "0.0.7.1", KX_TRANSLATE_NOOP("ChangeLog", "增加Velmora5多头测试板支持")},
    {"2023/05/15", "0.0.7.0", KX_TRANSLATE_NOOP("ChangeLog", "通道网格改为双缓冲绘制，消除闪烁")},
    {"2023/03/20", "0.0.6.4", KX_TRANSLATE_NOOP("ChangeLog", "增加旧版单头配置文件导入")},
    {"2023/01/09", "0.0.6.3", KX_TRANSLATE_NOOP("ChangeLog", "配置文件按页保存每个测试头的设置")},
    {"2022/11/14", "0.0.6.2", KX_TRANSLATE_NOOP("ChangeLog", "配置文件加载后自动写入设备")},
    {"2022/09/26", "0.0.6.1", KX_TRANSLATE_NOOP("ChangeLog", "增加经典测试仪的设备信息显示")},
    {"2022/08/01", "0.0.6.0", KX_TRANSLATE_NOOP("ChangeLog", "增加经典测试仪支持")},
    {"2022/06/06", "0.0.5.3",
     KX_TRANSLATE_NOOP("ChangeLog", "一拖一设备信息窗口增加脱机显示方式设置")},
    {"2022/04/18", "0.0.5.2", KX_TRANSLATE_NOOP("ChangeLog", "设备信息窗口按客户显示品牌图片")},
    {"2022/02/28", "0.0.5.1", KX_TRANSLATE_NOOP("ChangeLog", "增加一号机至五号机设备类型")},
    {"2021/12/13", "0.0.5.0", KX_TRANSLATE_NOOP("ChangeLog", "支持USB设备热插拔，自动重新连接")},
    {"2021/10/25", "0.0.4.2", KX_TRANSLATE_NOOP("ChangeLog", "蜂鸣器可设置为合格或不合格时鸣响")},
    {"2021/08/30", "0.0.4.1", KX_TRANSLATE_NOOP("ChangeLog", "增加PASS/FAIL输出控制")},
    {"2021/07/05", "0.0.4.0", KX_TRANSLATE_NOOP("ChangeLog", "双击通道切换测试、屏蔽和置灰方式")},
    {"2021/05/10", "0.0.3.2", KX_TRANSLATE_NOOP("ChangeLog", "通道号统一显示为两位数字")},
    {"2021/03/15", "0.0.3.1", KX_TRANSLATE_NOOP("ChangeLog", "超出上下限的通道以红色显示")},
    {"2021/01/18", "0.0.3.0", KX_TRANSLATE_NOOP("ChangeLog", "增加通道上下限及基准值显示")},
    {"2020/11/02", "0.0.2.0", KX_TRANSLATE_NOOP("ChangeLog", "采集改在独立线程运行，界面不再卡顿")},
    {"2020/09/07", "0.0.1.0",
     KX_TRANSLATE_NOOP("ChangeLog", "第一个版本，支持一拖一测试板32通道显示")},
};
static_assert(std::size(kEntries) == 34);

}  // namespace

void BuildChangeLog() {
    g_changeLog.clear();
    for (const ChangeLogEntry& e : kEntries) {
        g_changeLog.append(e.date).append(";Ver ").append(e.version).append(";\r\n");
        g_changeLog.append(TrText("ChangeLog", e.text)).append(";\r\n");
        g_changeLog.append(42, '-').append("\r\n");
    }
}

}  // namespace kx
