<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>StationCore</name>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>第 %1 行第 %2 列</source>
        <translation>row %1 column %2</translation>
    </message>
    <message>
        <source>测试头没有应答（无数据，不会判为 PASS）：%1。请检查该测试头的连接。</source>
        <translation>Test head not answering (no data, never judged PASS): %1. Please check that test head&apos;s connection.</translation>
    </message>
</context>
<context>
    <name>StationTexts</name>
    <message>
        <source>%1（另有%2未使用）</source>
        <translation>%1 (%2 also plugged in, not in use)</translation>
    </message>
    <message>
        <source>设备无法打开：没有访问权限</source>
        <translation>Device cannot be opened: no access permission</translation>
    </message>
    <message>
        <source>设备无法打开：设备正被其他程序使用</source>
        <translation>Device cannot be opened: it is in use by another program</translation>
    </message>
    <message>
        <source>设备无法打开</source>
        <translation>Device cannot be opened</translation>
    </message>
    <message>
        <source>找到了%1，但当前用户没有权限打开它。
请安装 packaging 文件夹中的 udev 规则 70-kaldrixplus.rules（复制到 /etc/udev/rules.d/ 后运行 sudo udevadm control --reload），然后拔下测试板再重新插上。
规则已安装但没有本地登录会话时（例如自动登录或远程桌面），请把当前用户加入 plugdev 组（sudo usermod -aG plugdev 用户名），重新登录后再试。</source>
        <translation>Found the %1, but the current user has no permission to open it.
Please install the udev rule 70-kaldrixplus.rules from the packaging folder (copy it to /etc/udev/rules.d/, then run sudo udevadm control --reload), then unplug the tester board and plug it in again.
If the rule is installed but there is no local login session (for example automatic login or remote desktop), add the current user to the plugdev group (sudo usermod -aG plugdev USERNAME), log in again and retry.</translation>
    </message>
    <message>
        <source>找到了%1，但它正被其他程序使用。
请关闭占用测试板的其他程序（例如另一个正在运行的 KaldrixPlus），然后拔下测试板再重新插上。</source>
        <translation>Found the %1, but it is in use by another program.
Please close the other program that holds the tester board (for example another running KaldrixPlus), then unplug the tester board and plug it in again.</translation>
    </message>
    <message>
        <source>找到了%1，但无法打开它。
请拔下测试板再重新插上；如果仍然不行，请换一个 USB 接口或检查 USB 线。</source>
        <translation>Found the %1, but it cannot be opened.
Please unplug the tester board and plug it in again; if that does not help, use another USB port or check the USB cable.</translation>
    </message>
    <message>
        <source>%1没有应答，未能读出测试板中保存的测试设置（界面上显示的是原来的设置）。
请拔下测试板再重新插上；如果仍然不行，请换一个 USB 接口或检查 USB 线。</source>
        <translation>The %1 did not answer: the test settings stored in the tester board could not be read (the screen shows the previous settings).
Please unplug the tester board and plug it in again; if that does not help, use another USB port or check the USB cable.</translation>
    </message>
    <message>
        <source>普通版</source>
        <translation>Standard</translation>
    </message>
    <message>
        <source>一号机</source>
        <translation>Machine 1</translation>
    </message>
    <message>
        <source>二号机</source>
        <translation>Machine 2</translation>
    </message>
    <message>
        <source>三号机</source>
        <translation>Machine 3</translation>
    </message>
    <message>
        <source>四号机</source>
        <translation>Machine 4</translation>
    </message>
    <message>
        <source>五号机</source>
        <translation>Machine 5</translation>
    </message>
    <message>
        <source>测试板已拔下（本机没有运行 udev 服务）
重新插上测试板后，程序在 2 秒内发现它并自动连接。
要立即发现插拔，请启动 udev 服务（sudo systemctl start systemd-udevd）后重新打开程序。</source>
        <translation>Tester board unplugged (no udev service running on this computer)
Plug the tester board in again: the program finds it within 2 seconds and connects.
To notice plugging at once, start the udev service (sudo systemctl start systemd-udevd) and open the program again.</translation>
    </message>
    <message>
        <source>未检测到测试板（本机没有运行 udev 服务）
插上测试板后，程序在 2 秒内发现它并自动连接。
要立即发现插拔，请启动 udev 服务（sudo systemctl start systemd-udevd）后重新打开程序。</source>
        <translation>No tester board found (no udev service running on this computer)
Plug in the tester board: the program finds it within 2 seconds and connects.
To notice plugging at once, start the udev service (sudo systemctl start systemd-udevd) and open the program again.</translation>
    </message>
    <message>
        <source>测试板已拔下
重新插上测试板后会自动连接。
如果并没有拔下，请检查 USB 线和 USB 接口。</source>
        <translation>Tester board unplugged
Plug the tester board in again and it connects by itself.
If it was not unplugged, please check the USB cable and the USB port.</translation>
    </message>
    <message>
        <source>未检测到测试板
请用 USB 线把测试板接到本机，插上后会自动连接。</source>
        <translation>No tester board found
Please connect the tester board to this computer with a USB cable; it connects by itself once plugged in.</translation>
    </message>
    <message>
        <source>找到了%1，但它属于设备类型“%2”
当前选择的设备类型是“%3”。
请在菜单 操作 &gt; 设备类型 中选择“%2”。</source>
        <translation>Found the %1, but it belongs to device type &quot;%2&quot;
The device type chosen now is &quot;%3&quot;.
Please choose &quot;%2&quot; in the menu Operation &gt; Device type.</translation>
    </message>
    <message>
        <source>找到了%1，但没有权限打开它
请安装 udev 规则 70-kaldrixplus.rules（做法见弹出的提示），然后拔下测试板再重新插上。</source>
        <translation>Found the %1, but there is no permission to open it
Please install the udev rule 70-kaldrixplus.rules (see the message box for how), then unplug the tester board and plug it in again.</translation>
    </message>
    <message>
        <source>找到了%1，但它正被其他程序使用
请关闭占用测试板的其他程序，然后拔下测试板再重新插上。</source>
        <translation>Found the %1, but it is in use by another program
Please close the other program that holds the tester board, then unplug the tester board and plug it in again.</translation>
    </message>
    <message>
        <source>找到了%1，但无法打开它
请拔下测试板再重新插上；如果仍然不行，请换一个 USB 接口或检查 USB 线。</source>
        <translation>Found the %1, but it cannot be opened
Please unplug the tester board and plug it in again; if that does not help, use another USB port or check the USB cable.</translation>
    </message>
    <message>
        <source>Orvane 设备已经连接</source>
        <translation>Orvane device connected</translation>
    </message>
    <message>
        <source>Velmora5 设备已经连接</source>
        <translation>Velmora5 device connected</translation>
    </message>
    <message>
        <source>ClassicTester 设备已经连接</source>
        <translation>ClassicTester device connected</translation>
    </message>
    <message>
        <source>设备已经断开</source>
        <translation>Device disconnected</translation>
    </message>
    <message>
        <source>USB设备已经插入</source>
        <translation>USB device plugged in</translation>
    </message>
</context>
<context>
    <name>kx::CDialogCapView</name>
    <message>
        <source>摄像头抓取</source>
        <translation>Camera capture</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Init</source>
        <translation>Init</translation>
    </message>
    <message>
        <source>未检测到摄像头
请插上摄像头，然后关闭并重新打开此窗口。</source>
        <translation>No camera found
Please plug in a camera, then close this window and open it again.</translation>
    </message>
</context>
</TS>
