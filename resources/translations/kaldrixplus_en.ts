<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>AboutCommon</name>
    <message>
        <source>设备标识号</source>
        <translation>Device ID</translation>
    </message>
    <message>
        <source>固件版本</source>
        <translation>Firmware version</translation>
    </message>
    <message>
        <source>固件日期</source>
        <translation>Firmware date</translation>
    </message>
    <message>
        <source>版本信息</source>
        <translation>Version history</translation>
    </message>
</context>
<context>
    <name>AppOptions</name>
    <message>
        <source>无法读取设置文件 %1：%2</source>
        <translation>Cannot read the settings file %1: %2</translation>
    </message>
    <message>
        <source>设置文件 %1 大于 64 KiB，不是设置文件</source>
        <translation>The settings file %1 is larger than 64 KiB and cannot be a settings file</translation>
    </message>
    <message>
        <source>设置文件 %1 不是 UTF-8 文本</source>
        <translation>The settings file %1 is not UTF-8 text</translation>
    </message>
    <message>
        <source>设置文件 %1 第 %2 行：应为“键 = 值”</source>
        <translation>Settings file %1, line %2: expected &quot;key = value&quot;</translation>
    </message>
    <message>
        <source>设置文件 %1 第 %2 行：[records] 中没有键 %3（可用：db、server、station、operator）</source>
        <translation>Settings file %1, line %2: [records] has no key %3 (available: db, server, station, operator)</translation>
    </message>
    <message>
        <source>记录服务器地址 %1 无效（%2）；应为 postgresql://用户@主机[:端口]/数据库</source>
        <translation>The records server address %1 is invalid (%2); expected postgresql://user@host[:port]/database</translation>
    </message>
</context>
<context>
    <name>BaselineStore</name>
    <message>
        <source>只有前 %1 个测试头可以设置基准和上下限，第 %2 行第 %3 列的测试头（第 %4 个）不能设置。</source>
        <translation>Only the first %1 heads can have a baseline and limits set; the head in row %2, column %3 (head %4) cannot be set.</translation>
    </message>
    <message>
        <source>测试板已经断开，新的测试设置没有写入测试板，只保留在程序中。
请先保存配置文件，插上测试板后再载入这个配置文件（插上后会读出测试板中原来的设置）。</source>
        <translation>The tester board has been disconnected. The new test settings were not written to the board; they are kept only in the program.
Save the configuration file first, then plug the board in and load this configuration file (a board that is plugged in has its previous settings read back).</translation>
    </message>
    <message>
        <source>下列测试板没有应答，新的测试设置可能没有写入：
%1界面上显示的是新的设置，测试板中可能仍是原来的设置。
请检查 USB 线和测试板。如果要拔下测试板重新插上，请先保存配置文件（重新插上后会读出测试板中原来的设置），插好后再载入这个配置文件。</source>
        <translation>These tester boards did not answer; the new test settings may not have been written:
%1The screen shows the new settings; the boards may still hold the previous ones.
Check the USB cable and the boards. To unplug a board and plug it in again, save the configuration file first (a board plugged in again has its previous settings read back), then load this configuration file once it is plugged in.</translation>
    </message>
</context>
<context>
    <name>BoardFamily</name>
    <message>
        <source>经典测试仪</source>
        <translation>classic tester</translation>
    </message>
    <message>
        <source>多测试头主板</source>
        <translation>master board</translation>
    </message>
    <message>
        <source>一拖一测试板</source>
        <translation>one-to-one board</translation>
    </message>
    <message>
        <source>测试板</source>
        <translation>tester board</translation>
    </message>
    <message>
        <source>Velmora5 多头测试板</source>
        <translation>Velmora5 multi-head board</translation>
    </message>
</context>
<context>
    <name>BoardJob</name>
    <message>
        <source>正在与设备通信，请稍候再试。</source>
        <translation>Communicating with the board. Please try again in a moment.</translation>
    </message>
</context>
<context>
    <name>CConfigCommands</name>
    <message>
        <source>保存配置</source>
        <translation>Save Configuration</translation>
    </message>
    <message>
        <source>老版本配置载入</source>
        <translation>Load Old-Version Configuration</translation>
    </message>
    <message>
        <source>载入配置</source>
        <translation>Load Configuration</translation>
    </message>
    <message>
        <source>查找范围：</source>
        <translation>Look in:</translation>
    </message>
    <message>
        <source>文件名：</source>
        <translation>File name:</translation>
    </message>
    <message>
        <source>文件类型：</source>
        <translation>File type:</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>正在载入配置…</source>
        <translation>Loading the configuration…</translation>
    </message>
    <message>
        <source>正在把配置写入测试板：第 %1 / %2 个测试头……</source>
        <translation>Writing the configuration to the boards: test head %1 of %2…</translation>
    </message>
    <message>
        <source>“%1”已经存在。
要替换它吗？</source>
        <translation>&quot;%1&quot; already exists.
Do you want to replace it?</translation>
    </message>
</context>
<context>
    <name>CKaldrixPlusApp</name>
    <message>
        <source>测试记录的设置有误，程序无法启动：
%1</source>
        <translation>The test records settings are wrong; the program cannot start:
%1</translation>
    </message>
    <message>
        <source>无法打开测试记录数据库：
%1

原因：%2

测试可以继续，但不会保存测试记录。</source>
        <translation>Cannot open the test records database:
%1

Reason: %2

Testing can go on, but no test records will be saved.</translation>
    </message>
    <message>
        <source>无法初始化 USB HID 访问（hidapi），测试板将无法连接。请检查系统的 hidraw 支持后重新启动程序。</source>
        <translation>Cannot initialise USB HID access (hidapi); no tester board can be connected. Check the system&apos;s hidraw support, then restart the program.</translation>
    </message>
    <message>
        <source>%1 %2 列 × %3 行</source>
        <translation>%1, %2 columns × %3 rows</translation>
    </message>
    <message>
        <source>已经运行了一个程序，如非扩展板，请尽量避免开启两个相同的程序!</source>
        <translation>The program is already running. Unless you use an extension board, avoid running two copies of the same program!</translation>
    </message>
</context>
<context>
    <name>CKaldrixPlusDlg</name>
    <message>
        <source>使能FPC测试菜单已经解锁！</source>
        <translation>The &quot;Enable FPC Test&quot; menu entry is unlocked!</translation>
    </message>
    <message>
        <source>关于 KaldrixPlus(&amp;A)...</source>
        <translation>&amp;About KaldrixPlus...</translation>
    </message>
    <message>
        <source>配置文件已不存在，已从最近使用的列表中删除：
%1</source>
        <translation>The configuration file no longer exists and was removed from the recent files:
%1</translation>
    </message>
    <message>
        <source>正在连接测试板…</source>
        <translation>Connecting to the tester board…</translation>
    </message>
    <message>
        <source>文件(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>载入(&amp;L)</source>
        <translation>&amp;Load</translation>
    </message>
    <message>
        <source>保存(&amp;S)</source>
        <translation>&amp;Save</translation>
    </message>
    <message>
        <source>老版本配置载入</source>
        <translation>Load Old-Version Configuration</translation>
    </message>
    <message>
        <source>退出(&amp;E)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>操作(&amp;O)</source>
        <translation>&amp;Operation</translation>
    </message>
    <message>
        <source>设备类型</source>
        <translation>Device Type</translation>
    </message>
    <message>
        <source>使能FPC测试</source>
        <translation>Enable FPC Test</translation>
    </message>
    <message>
        <source>清除绿色标记</source>
        <translation>Clear Green Marks</translation>
    </message>
    <message>
        <source>蜂鸣器</source>
        <translation>Buzzer</translation>
    </message>
    <message>
        <source>使能</source>
        <translation>Enable</translation>
    </message>
    <message>
        <source>反转</source>
        <translation>Invert</translation>
    </message>
    <message>
        <source>创建视频窗口</source>
        <translation>Camera Window</translation>
    </message>
    <message>
        <source>记录(&amp;R)</source>
        <translation>&amp;Records</translation>
    </message>
    <message>
        <source>测试记录…</source>
        <translation>Test Records…</translation>
    </message>
    <message>
        <source>导出…</source>
        <translation>Export…</translation>
    </message>
    <message>
        <source>重置计数</source>
        <translation>Reset Counts</translation>
    </message>
    <message>
        <source>帮助(&amp;A)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>关于(&amp;A)</source>
        <translation>&amp;About</translation>
    </message>
    <message>
        <source>模拟</source>
        <translation>Simulation</translation>
    </message>
</context>
<context>
    <name>ChangeLog</name>
    <message>
        <source>移植到新的工控机平台，界面与设备通信全部重写</source>
        <translation>Ported to the new industrial PC platform; user interface and board communication rewritten</translation>
    </message>
    <message>
        <source>设备信息窗口中未读到的字段显示为空，不再显示上一条命令的数据</source>
        <translation>Fields not read in the device information window are shown empty instead of the previous command&apos;s data</translation>
    </message>
    <message>
        <source>主板设置窗口增加清急停按钮</source>
        <translation>Master board settings window: added a button to clear the emergency stop</translation>
    </message>
    <message>
        <source>主板测试头表支持原位编辑，增加重设行列数</source>
        <translation>Master board head table can be edited in place; added resetting the rows and columns</translation>
    </message>
    <message>
        <source>主板蜂鸣器增加反转设置</source>
        <translation>Master board buzzer: added the inverted setting</translation>
    </message>
    <message>
        <source>修正主板位置表超过16个位置时的写入</source>
        <translation>Fixed writing the master board position table with more than 16 positions</translation>
    </message>
    <message>
        <source>增加主板急停输入的锁存处理</source>
        <translation>Added latching of the master board&apos;s emergency-stop input</translation>
    </message>
    <message>
        <source>支持多测试头主板，最多10行10列</source>
        <translation>Support for multi-head master boards, up to 10 rows by 10 columns</translation>
    </message>
    <message>
        <source>摄像头窗口可随时打开和关闭</source>
        <translation>The camera window can be opened and closed at any time</translation>
    </message>
    <message>
        <source>增加摄像头实时画面窗口</source>
        <translation>Added a live camera window</translation>
    </message>
    <message>
        <source>基准对话框的读数可保存到rawdata.csv</source>
        <translation>Baseline dialog readings can be saved to rawdata.csv</translation>
    </message>
    <message>
        <source>基准对话框增加按百分比或固定偏移生成上下限</source>
        <translation>Baseline dialog: limits can be generated by percentage or fixed offset</translation>
    </message>
    <message>
        <source>Velmora5设备信息窗口可修改行列布局</source>
        <translation>Velmora5 device information window can change the row and column layout</translation>
    </message>
    <message>
        <source>Velmora5最多显示4行4列测试头</source>
        <translation>Velmora5 shows up to 4 rows by 4 columns of heads</translation>
    </message>
    <message>
        <source>修正Velmora5显示范围写入的字节顺序</source>
        <translation>Fixed the byte order when writing the Velmora5 display range</translation>
    </message>
    <message>
        <source>增加Velmora5多头测试板支持</source>
        <translation>Added support for Velmora5 multi-head boards</translation>
    </message>
    <message>
        <source>通道网格改为双缓冲绘制，消除闪烁</source>
        <translation>Channel grid drawn double-buffered, no more flicker</translation>
    </message>
    <message>
        <source>增加旧版单头配置文件导入</source>
        <translation>Added import of old single-head configuration files</translation>
    </message>
    <message>
        <source>配置文件按页保存每个测试头的设置</source>
        <translation>Configuration files store each head&apos;s settings as a page</translation>
    </message>
    <message>
        <source>配置文件加载后自动写入设备</source>
        <translation>A loaded configuration file is written to the board automatically</translation>
    </message>
    <message>
        <source>增加经典测试仪的设备信息显示</source>
        <translation>Added device information for the classic tester</translation>
    </message>
    <message>
        <source>增加经典测试仪支持</source>
        <translation>Added support for the classic tester</translation>
    </message>
    <message>
        <source>一拖一设备信息窗口增加脱机显示方式设置</source>
        <translation>One-to-one device information window: added the offline display setting</translation>
    </message>
    <message>
        <source>设备信息窗口按客户显示品牌图片</source>
        <translation>Device information window shows the customer&apos;s brand picture</translation>
    </message>
    <message>
        <source>增加一号机至五号机设备类型</source>
        <translation>Added board types No. 1 to No. 5</translation>
    </message>
    <message>
        <source>支持USB设备热插拔，自动重新连接</source>
        <translation>USB hot-plugging supported; boards reconnect automatically</translation>
    </message>
    <message>
        <source>蜂鸣器可设置为合格或不合格时鸣响</source>
        <translation>The buzzer can be set to sound on PASS or on FAIL</translation>
    </message>
    <message>
        <source>增加PASS/FAIL输出控制</source>
        <translation>Added PASS/FAIL output control</translation>
    </message>
    <message>
        <source>双击通道切换测试、屏蔽和置灰方式</source>
        <translation>Double-clicking a channel switches between tested, masked and greyed out</translation>
    </message>
    <message>
        <source>通道号统一显示为两位数字</source>
        <translation>Channel numbers always shown with two digits</translation>
    </message>
    <message>
        <source>超出上下限的通道以红色显示</source>
        <translation>Channels outside their limits shown in red</translation>
    </message>
    <message>
        <source>增加通道上下限及基准值显示</source>
        <translation>Added display of channel limits and baselines</translation>
    </message>
    <message>
        <source>采集改在独立线程运行，界面不再卡顿</source>
        <translation>Acquisition runs on its own thread; the window no longer stalls</translation>
    </message>
    <message>
        <source>第一个版本，支持一拖一测试板32通道显示</source>
        <translation>First version: shows the 32 channels of a one-to-one board</translation>
    </message>
</context>
<context>
    <name>ConfigFile</name>
    <message>
        <source>[%1] 中的 %2</source>
        <translation>%2 in [%1]</translation>
    </message>
    <message>
        <source>配置文件中的布局为 %1 列 × %2 行，本机每行、每列最多 %3 个测试头。</source>
        <translation>The layout in the configuration file is %1 columns × %2 rows; this station takes at most %3 heads per row and per column. </translation>
    </message>
    <message>
        <source>已按 %1 列 × %2 行载入，没有载入任何测试头的设置。</source>
        <translation>Loaded as %1 columns × %2 rows; no head&apos;s settings were loaded.</translation>
    </message>
    <message>
        <source>已按 %1 列 × %2 行载入，本机最多保存 %3 个测试头的设置，只载入了前 %4 个（第 00 至 %5 页）。</source>
        <translation>Loaded as %1 columns × %2 rows; this station keeps the settings of at most %3 heads, so only the first %4 were loaded (pages 00 to %5).</translation>
    </message>
    <message>
        <source>已按 %1 列 × %2 行载入。</source>
        <translation>Loaded as %1 columns × %2 rows.</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>[%1] %2=%3（读作 %4）</source>
        <translation>[%1] %2=%3 (read as %4)</translation>
    </message>
    <message>
        <source>以下设置的文字不是数字或超出范围，已按原来的规则读入：%1等，共 %2 项。</source>
        <translation>The text of these settings is not a number or is out of range; they were read by the usual rules: %1 and others, %2 in all.</translation>
    </message>
    <message>
        <source>以下设置的文字不是数字或超出范围，已按原来的规则读入：%1。</source>
        <translation>The text of these settings is not a number or is out of range; they were read by the usual rules: %1.</translation>
    </message>
    <message>
        <source>第 %1 行第 %2 列（页 %3）</source>
        <translation>row %1, column %2 (page %3)</translation>
    </message>
    <message>
        <source>文件中没有载入所读的任何设置（[GLOBAL] 中的 FPCTEST、COL、ROW，或 PAGE00 至 PAGE63 各测试头的设置）</source>
        <translation>the file has none of the settings a load reads (FPCTEST, COL, ROW in [GLOBAL], or the heads&apos; settings PAGE00 to PAGE63)</translation>
    </message>
    <message>
        <source>缺少 [GLOBAL] 中的 %1</source>
        <translation>%1 missing in [GLOBAL]</translation>
    </message>
    <message>
        <source>COL=%1，ROW=%2</source>
        <translation>COL=%1, ROW=%2</translation>
    </message>
    <message>
        <source>%1缺少 %2 项设置（如 %3）</source>
        <translation>%1 lacks %2 settings (such as %3)</translation>
    </message>
    <message>
        <source>%1缺少 %2 项设置（如 %3），共有 %4 个测试头的设置不完整</source>
        <translation>%1 lacks %2 settings (such as %3); the settings of %4 heads in all are incomplete</translation>
    </message>
    <message>
        <source>布局共有 %1 个测试头，本机最多保存 %2 个测试头的设置，没有保存任何测试头的设置。</source>
        <translation>The layout has %1 heads and this station keeps the settings of at most %2 heads; no head&apos;s settings were saved.</translation>
    </message>
    <message>
        <source>布局共有 %1 个测试头，本机最多保存 %2 个测试头的设置，只保存了前 %3 个（第 00 至 %4 页）。</source>
        <translation>The layout has %1 heads and this station keeps the settings of at most %2 heads; only the first %3 were saved (pages 00 to %4).</translation>
    </message>
    <message>
        <source>配置文件(*.ini)</source>
        <translation>Configuration files (*.ini)</translation>
    </message>
    <message>
        <source>文件中没有老版本配置载入所读的任何设置（[offset]、[baseline]、[upperlimit]、[lowerlimit]、[datarange]、[channelenable]）</source>
        <translation>the file has none of the settings the old-version load reads ([offset], [baseline], [upperlimit], [lowerlimit], [datarange], [channelenable])</translation>
    </message>
    <message>
        <source>缺少 %1 项设置（如 %2）</source>
        <translation>%1 settings are missing (such as %2)</translation>
    </message>
</context>
<context>
    <name>ConfigTransfer</name>
    <message>
        <source>、</source>
        <translation>; </translation>
    </message>
    <message>
        <source>以下测试板没有应答，载入的设置没有完整写入：%1。</source>
        <translation>These tester boards did not answer, and the loaded settings were not completely written to them: %1.</translation>
    </message>
    <message>
        <source>以下测试头没有收到载入的设置：%1等，共 %2 个测试头。这些测试头保留载入前的设置，界面仍按载入前的设置显示和判定。</source>
        <translation>These heads did not receive the loaded settings: %1 and others, %2 heads in all. They keep the settings they had before the load, and the screen still shows and judges them by those settings.</translation>
    </message>
    <message>
        <source>以下测试头没有收到载入的设置：%1。这些测试头保留载入前的设置，界面仍按载入前的设置显示和判定。</source>
        <translation>These heads did not receive the loaded settings: %1. They keep the settings they had before the load, and the screen still shows and judges them by those settings.</translation>
    </message>
    <message>
        <source>载入过程中测试板断开了连接。</source>
        <translation>A tester board was disconnected during the load.</translation>
    </message>
    <message>
        <source>没有连接%1，老版本配置只能写入%1，没有载入，界面和测试板上的设置都没有改动。
请插好%1，等窗口标题显示“设备已经连接”后再载入。</source>
        <translation>No %1 is connected. An old-version configuration can only be written to a %1, so nothing was loaded and nothing was changed on the screen or on the boards.
Plug in the %1 and load again once the window title says that the device is connected.</translation>
    </message>
    <message>
        <source>载入配置文件失败</source>
        <translation>Loading the configuration file failed</translation>
    </message>
    <message>
        <source>保存配置文件失败</source>
        <translation>Saving the configuration file failed</translation>
    </message>
    <message>
        <source>载入老版本配置文件失败</source>
        <translation>Loading the old-version configuration file failed</translation>
    </message>
    <message>
        <source>没有连接测试板，配置没有载入，界面和测试板上的设置都没有改动。
请插好测试板，等窗口标题显示“设备已经连接”后再载入配置。</source>
        <translation>No tester board is connected: the configuration was not loaded, and neither the screen nor the boards changed.
Plug in the tester board, wait until the window title says the device is connected, then load the configuration.</translation>
    </message>
    <message>
        <source>请检查测试板及其 USB 连接（必要时拔下再插上），等窗口标题显示“设备已经连接”后重新载入配置。</source>
        <translation>Check the tester boards and their USB connections (unplug and plug them in again if needed), and load the configuration again once the window title says that the device is connected.</translation>
    </message>
</context>
<context>
    <name>DataExchange</name>
    <message>
        <source>请输入一个整数。</source>
        <translation>Please enter an integer.</translation>
    </message>
    <message>
        <source>请输入一个数字。</source>
        <translation>Please enter a number.</translation>
    </message>
    <message>
        <source>请输入一个 %1 至 %2 之间的整数。</source>
        <translation>Please enter an integer between %1 and %2.</translation>
    </message>
</context>
<context>
    <name>DeviceInfo</name>
    <message>
        <source>一拖一基础版本V1</source>
        <translation>One-to-one basic edition V1</translation>
    </message>
    <message>
        <source>一拖一升级版本V2</source>
        <translation>One-to-one upgraded edition V2</translation>
    </message>
    <message>
        <source>一拖一之[一号机]</source>
        <translation>One-to-one [unit 1]</translation>
    </message>
    <message>
        <source>一拖一之[二号机]</source>
        <translation>One-to-one [unit 2]</translation>
    </message>
    <message>
        <source>一拖一之[三号机]</source>
        <translation>One-to-one [unit 3]</translation>
    </message>
    <message>
        <source>一拖一之[四号机]</source>
        <translation>One-to-one [unit 4]</translation>
    </message>
    <message>
        <source>一拖一之[五号机]</source>
        <translation>One-to-one [unit 5]</translation>
    </message>
    <message>
        <source>经典版本</source>
        <translation>Classic edition</translation>
    </message>
</context>
<context>
    <name>FileAccess</name>
    <message>
        <source>读取文件</source>
        <translation>reading the file</translation>
    </message>
    <message>
        <source>读取原文件</source>
        <translation>reading the original file</translation>
    </message>
    <message>
        <source>成功</source>
        <translation>success</translation>
    </message>
    <message>
        <source>文件过大，不是配置文件</source>
        <translation>the file is too large to be a configuration file</translation>
    </message>
    <message>
        <source>不是普通文件</source>
        <translation>not a regular file</translation>
    </message>
    <message>
        <source>文件为只读</source>
        <translation>the file is read-only</translation>
    </message>
    <message>
        <source>文件为 UTF-16 编码，请另存为 UTF-8 或 ANSI 编码后再使用</source>
        <translation>the file is encoded in UTF-16; save it as UTF-8 or ANSI and use it again</translation>
    </message>
    <message>
        <source>没有文件名</source>
        <translation>no file name</translation>
    </message>
    <message>
        <source>不是配置文件</source>
        <translation>is not a configuration file</translation>
    </message>
    <message>
        <source>是老版本的配置文件，请用“文件”菜单中的“老版本配置载入”载入</source>
        <translation>is an old-version configuration file; load it with “Old-version configuration load” in the “File” menu</translation>
    </message>
    <message>
        <source>不是老版本的配置文件</source>
        <translation>is not an old-version configuration file</translation>
    </message>
    <message>
        <source>是新版本的配置文件，请用“文件”菜单中的“载入”载入</source>
        <translation>is a configuration file of the current version; load it with “Load” in the “File” menu</translation>
    </message>
    <message>
        <source>不完整，可能被截断或改动过</source>
        <translation>is incomplete; it may have been cut off or edited</translation>
    </message>
    <message>
        <source>中的布局没有测试头</source>
        <translation>has a layout without any head</translation>
    </message>
    <message>
        <source>文件或文件夹不存在</source>
        <translation>the file or folder does not exist</translation>
    </message>
    <message>
        <source>没有访问权限</source>
        <translation>permission denied</translation>
    </message>
    <message>
        <source>文件系统为只读</source>
        <translation>the file system is read-only</translation>
    </message>
    <message>
        <source>磁盘空间不足</source>
        <translation>not enough disk space</translation>
    </message>
    <message>
        <source>超出磁盘配额</source>
        <translation>disk quota exceeded</translation>
    </message>
    <message>
        <source>读写设备出错</source>
        <translation>input/output error on the device</translation>
    </message>
    <message>
        <source>这是一个文件夹</source>
        <translation>this is a folder</translation>
    </message>
    <message>
        <source>路径中有一项不是文件夹</source>
        <translation>a part of the path is not a folder</translation>
    </message>
    <message>
        <source>文件名过长</source>
        <translation>the file name is too long</translation>
    </message>
    <message>
        <source>打开的文件过多</source>
        <translation>too many open files</translation>
    </message>
    <message>
        <source>文件过大</source>
        <translation>the file is too large</translation>
    </message>
    <message>
        <source>符号链接层数过多</source>
        <translation>too many levels of symbolic links</translation>
    </message>
    <message>
        <source>系统错误 %1</source>
        <translation>system error %1</translation>
    </message>
    <message>
        <source>“%1”%2。
%3</source>
        <translation>“%1” %2.
%3</translation>
    </message>
    <message>
        <source>“%1”%2：%3。
%4</source>
        <translation>“%1” %2: %3.
%4</translation>
    </message>
    <message>
        <source>“%1”：%2失败，%3。</source>
        <translation>“%1”: %2 failed: %3.</translation>
    </message>
    <message>
        <source>“%1”：%2失败，%3（%4）。</source>
        <translation>“%1”: %2 failed: %3 (%4).</translation>
    </message>
    <message>
        <source>原文件未改动。</source>
        <translation> The original file is unchanged.</translation>
    </message>
    <message>
        <source>打开文件</source>
        <translation>opening the file</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>saving</translation>
    </message>
    <message>
        <source>在同一文件夹中创建临时文件</source>
        <translation>creating a temporary file in the same folder</translation>
    </message>
    <message>
        <source>写入临时文件</source>
        <translation>writing the temporary file</translation>
    </message>
    <message>
        <source>写入磁盘</source>
        <translation>writing to the disk</translation>
    </message>
    <message>
        <source>替换原文件</source>
        <translation>replacing the original file</translation>
    </message>
    <message>
        <source>界面和测试板上的设置都没有改动。</source>
        <translation>Nothing was changed in the settings on the screen or on the boards.</translation>
    </message>
</context>
<context>
    <name>FirmwareText</name>
    <message>
        <source>%1年%2月%3日</source>
        <translation>%1-%2-%3</translation>
    </message>
</context>
<context>
    <name>GridPainter</name>
    <message>
        <source>无数据</source>
        <translation>NO DATA</translation>
    </message>
</context>
<context>
    <name>RawDataFile</name>
    <message>
        <source>磁盘空间不足</source>
        <translation>not enough disk space</translation>
    </message>
    <message>
        <source>没有写入权限</source>
        <translation>no permission to write</translation>
    </message>
    <message>
        <source>同名的文件已经存在</source>
        <translation>a file of that name already exists</translation>
    </message>
    <message>
        <source>读数文件：%1</source>
        <translation>Readings file: %1</translation>
    </message>
    <message>
        <source>无法创建文件夹 %1（%2），读数没有保存。</source>
        <translation>Cannot create the folder %1 (%2); the readings were not saved.</translation>
    </message>
    <message>
        <source>无法写入文件 %1（%2），读数没有保存，原有的文件没有改动。</source>
        <translation>Cannot write the file %1 (%2); the readings were not saved, and the existing file is unchanged.</translation>
    </message>
    <message>
        <source>无法写入文件 %1（%2），读数没有保存。</source>
        <translation>Cannot write the file %1 (%2); the readings were not saved.</translation>
    </message>
    <message>
        <source>文件不存在：%1</source>
        <translation>The file does not exist: %1</translation>
    </message>
    <message>
        <source>无法读取文件 %1（%2），读数表没有改动。</source>
        <translation>Cannot read the file %1 (%2); the readings table is unchanged.</translation>
    </message>
    <message>
        <source>文件过大</source>
        <translation>the file is too large</translation>
    </message>
    <message>
        <source>含有二进制数据</source>
        <translation>it contains binary data</translation>
    </message>
    <message>
        <source>第 %1 行不是读数</source>
        <translation>line %1 is not a reading</translation>
    </message>
    <message>
        <source>文件 %1 不是读数文件（%2），读数表没有改动。</source>
        <translation>The file %1 is not a readings file (%2); the readings table is unchanged.</translation>
    </message>
</context>
<context>
    <name>RecordExport</name>
    <message>
        <source>导出已取消</source>
        <translation>Export cancelled</translation>
    </message>
    <message>
        <source>读取记录失败：%1</source>
        <translation>Reading the records failed: %1</translation>
    </message>
    <message>
        <source>导出文件名无效：%1</source>
        <translation>Invalid export file name: %1</translation>
    </message>
    <message>
        <source>无法创建导出文件 %1：%2</source>
        <translation>Cannot create the export file %1: %2</translation>
    </message>
    <message>
        <source>写入导出文件失败 %1：%2</source>
        <translation>Writing the export file %1 failed: %2</translation>
    </message>
    <message>
        <source>无法写成导出文件 %1：%2</source>
        <translation>Cannot complete the export file %1: %2</translation>
    </message>
    <message>
        <source>导出的输出被中断</source>
        <translation>The export&apos;s output was interrupted</translation>
    </message>
</context>
<context>
    <name>RecordForwarder</name>
    <message>
        <source>未知错误</source>
        <translation>unknown error</translation>
    </message>
    <message>
        <source>无法连接记录服务器：内存不足</source>
        <translation>Cannot connect to the records server: out of memory</translation>
    </message>
    <message>
        <source>无法连接记录服务器：%1</source>
        <translation>Cannot connect to the records server: %1</translation>
    </message>
    <message>
        <source>无法连接记录服务器：%1 秒内没有应答</source>
        <translation>Cannot connect to the records server: no answer within %1 s</translation>
    </message>
    <message>
        <source>记录服务器 %1 秒内没有应答</source>
        <translation>The records server did not answer within %1 s</translation>
    </message>
    <message>
        <source>记录服务器连接出错：%1</source>
        <translation>Error on the connection to the records server: %1</translation>
    </message>
    <message>
        <source>记录服务器拒绝了请求：%1</source>
        <translation>The records server refused the request: %1</translation>
    </message>
    <message>
        <source>记录服务器地址须以 postgresql:// 或 postgres:// 开头</source>
        <translation>The records server address must begin with postgresql:// or postgres://</translation>
    </message>
    <message>
        <source>记录服务器地址含有控制字符</source>
        <translation>The records server address contains control characters</translation>
    </message>
    <message>
        <source>记录服务器地址无效：%1</source>
        <translation>Invalid records server address: %1</translation>
    </message>
    <message>
        <source>无法打开本地记录数据库：%1</source>
        <translation>Cannot open the local records database: %1</translation>
    </message>
    <message>
        <source>无法读取本地记录数据库：%1</source>
        <translation>Cannot read the local records database: %1</translation>
    </message>
    <message>
        <source>无法标记已发送的记录：%1</source>
        <translation>Cannot mark the sent records: %1</translation>
    </message>
</context>
<context>
    <name>RecordsWindow</name>
    <message>
        <source>测试记录</source>
        <translation>Test Records</translation>
    </message>
    <message>
        <source>行%1 列%2</source>
        <translation>Row %1 Col %2</translation>
    </message>
    <message>
        <source>测试</source>
        <translation>Tested</translation>
    </message>
    <message>
        <source>屏蔽</source>
        <translation>Masked</translation>
    </message>
    <message>
        <source>不测</source>
        <translation>Not tested</translation>
    </message>
    <message>
        <source>未判定</source>
        <translation>Not judged</translation>
    </message>
    <message>
        <source>范围内</source>
        <translation>Within limits</translation>
    </message>
    <message>
        <source>超上限</source>
        <translation>Above upper limit</translation>
    </message>
    <message>
        <source>低于下限</source>
        <translation>Below lower limit</translation>
    </message>
    <message>
        <source>所有通道均已响应</source>
        <translation>All channels responded</translation>
    </message>
    <message>
        <source>通道未响应</source>
        <translation>Channels did not respond</translation>
    </message>
    <message>
        <source>通道超出上下限</source>
        <translation>Channels outside their limits</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>测试板设置</source>
        <translation>Board settings</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>条码</source>
        <translation>Serial</translation>
    </message>
    <message>
        <source>测试头</source>
        <translation>Head</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>原因</source>
        <translation>Reason</translation>
    </message>
    <message>
        <source>配置文件</source>
        <translation>Configuration</translation>
    </message>
    <message>
        <source>测试板</source>
        <translation>Board</translation>
    </message>
    <message>
        <source>工位</source>
        <translation>Station</translation>
    </message>
    <message>
        <source>操作员</source>
        <translation>Operator</translation>
    </message>
    <message>
        <source>CSV 文件(*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>JSON Lines 文件(*.jsonl)</source>
        <translation>JSON Lines files (*.jsonl)</translation>
    </message>
    <message>
        <source>导出测试记录</source>
        <translation>Export Test Records</translation>
    </message>
</context>
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
Please choose &quot;%2&quot; in the menu Operation &gt; Device Type.</translation>
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
    <name>kx::CAboutCommand</name>
    <message>
        <source>正在读取设备信息…</source>
        <translation>Reading device information…</translation>
    </message>
    <message>
        <source>脱机显示方式未能写入设备，请检查设备连接后重试。</source>
        <translation>The offline display setting could not be written to the board. Check the board&apos;s connection and try again.</translation>
    </message>
    <message>
        <source>行列设置未能写入设备，请检查设备连接后重试。</source>
        <translation>The row and column settings could not be written to the board. Check the board&apos;s connection and try again.</translation>
    </message>
    <message>
        <source>%1设置未能全部写入设备，请检查设备连接后重试。</source>
        <translation>Not all %1 settings could be written to the board. Check the board&apos;s connection and try again.</translation>
    </message>
    <message>
        <source>正在写入设备…</source>
        <translation>Writing to the board…</translation>
    </message>
</context>
<context>
    <name>kx::CAboutDlg</name>
    <message>
        <source>关于 KaldrixPlus</source>
        <translation>About KaldrixPlus</translation>
    </message>
    <message>
        <source>固件信息</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>产品序列号</source>
        <translation>Product serial number</translation>
    </message>
    <message>
        <source>设备标识号</source>
        <translation>Device ID</translation>
    </message>
    <message>
        <source>固件版本</source>
        <translation>Firmware version</translation>
    </message>
    <message>
        <source>固件日期</source>
        <translation>Firmware date</translation>
    </message>
    <message>
        <source>作者</source>
        <translation>Author</translation>
    </message>
    <message>
        <source>开机LCD LOGO</source>
        <translation>Start-up LCD logo</translation>
    </message>
    <message>
        <source>脱机运行方式显示每条通道方式</source>
        <translation>In offline mode, show each channel&apos;s mode</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>kx::CAboutDlgVelmora5</name>
    <message>
        <source>关于 KaldrixPlus</source>
        <translation>About KaldrixPlus</translation>
    </message>
    <message>
        <source>固件信息</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>使能横列数重设</source>
        <translation>Enable resetting rows and columns</translation>
    </message>
    <message>
        <source>行</source>
        <translation>Rows</translation>
    </message>
    <message>
        <source>列</source>
        <translation>Columns</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>kx::CAboutDlgVelmora5HID</name>
    <message>
        <source>关于 KaldrixPlus</source>
        <translation>About KaldrixPlus</translation>
    </message>
    <message>
        <source>固件信息</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>蜂鸣器状态</source>
        <translation>Buzzer</translation>
    </message>
    <message>
        <source>启用蜂鸣器</source>
        <translation>Buzzer on</translation>
    </message>
    <message>
        <source>蜂鸣器反转</source>
        <translation>Buzzer inverted</translation>
    </message>
    <message>
        <source>清急停</source>
        <translation>Clear emergency stop</translation>
    </message>
    <message>
        <source>重设行列数</source>
        <translation>Reset rows and columns</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>第%1列</source>
        <translation>Column %1</translation>
    </message>
</context>
<context>
    <name>kx::CBaseLineDlg</name>
    <message>
        <source>No.</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>AVG</source>
        <translation>AVG</translation>
    </message>
    <message>
        <source>按照差异百分比设置上下限</source>
        <translation>Limits by percentage of difference</translation>
    </message>
    <message>
        <source>按照数值设置上下限</source>
        <translation>Limits by value</translation>
    </message>
    <message>
        <source>基准值与上下限设定</source>
        <translation>Reference and Limits</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Load</source>
        <translation>Load</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Averange</source>
        <translation>Average</translation>
    </message>
    <message>
        <source>设定</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>全部打开</source>
        <translation>All Channels On</translation>
    </message>
    <message>
        <source>全部关闭</source>
        <translation>All Channels Off</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>数值上限=中心值+</source>
        <translation>Upper limit = reference +</translation>
    </message>
    <message>
        <source>数值下限=中心值-</source>
        <translation>Lower limit = reference -</translation>
    </message>
    <message>
        <source>坐标值下限</source>
        <translation>Scale minimum</translation>
    </message>
    <message>
        <source>坐标值上限</source>
        <translation>Scale maximum</translation>
    </message>
    <message>
        <source>读数已满 %1 条，不能再读取。</source>
        <translation>The list is full with %1 readings; no more can be read.</translation>
    </message>
    <message>
        <source>ERR</source>
        <translation>Error: no reading is ticked.</translation>
    </message>
    <message>
        <source>真正需要重新载入？</source>
        <translation>Reload the readings from the file? The readings in the list will be replaced.</translation>
    </message>
    <message>
        <source>文件中的读数超过 %1 条，只载入了前 %1 条。</source>
        <translation>The file holds more than %1 readings; only the first %1 were loaded.</translation>
    </message>
</context>
<context>
    <name>kx::CBaselineCommand</name>
    <message>
        <source>正在写入设备…</source>
        <translation>Writing to the board…</translation>
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
<context>
    <name>kx::CRecordsWindow</name>
    <message>
        <source>从</source>
        <translation>From</translation>
    </message>
    <message>
        <source>到</source>
        <translation>To</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>条码包含…</source>
        <translation>Serial contains…</translation>
    </message>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>条码</source>
        <translation>Serial</translation>
    </message>
    <message>
        <source>测试头</source>
        <translation>Head</translation>
    </message>
    <message>
        <source>通道</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>模式</source>
        <translation>Mode</translation>
    </message>
    <message>
        <source>判定</source>
        <translation>Class</translation>
    </message>
    <message>
        <source>值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>最低</source>
        <translation>Lowest</translation>
    </message>
    <message>
        <source>最高</source>
        <translation>Highest</translation>
    </message>
    <message>
        <source>下限</source>
        <translation>Lower limit</translation>
    </message>
    <message>
        <source>上限</source>
        <translation>Upper limit</translation>
    </message>
    <message>
        <source>基准</source>
        <translation>Baseline</translation>
    </message>
    <message>
        <source>绿色标记</source>
        <translation>Green mark</translation>
    </message>
    <message>
        <source>导出CSV…</source>
        <translation>Export CSV…</translation>
    </message>
    <message>
        <source>导出JSON Lines…</source>
        <translation>Export JSON Lines…</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>是</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>正在查询…</source>
        <translation>Querying…</translation>
    </message>
    <message>
        <source>无法打开记录数据库 %1：%2</source>
        <translation>Cannot open the records database %1: %2</translation>
    </message>
    <message>
        <source>读取记录失败：%1</source>
        <translation>Reading the records failed: %1</translation>
    </message>
    <message>
        <source>已显示最新的 %1 条记录，向下滚动显示更多</source>
        <translation>Showing the newest %1 records; scroll down for more</translation>
    </message>
    <message>
        <source>共 %1 条记录</source>
        <translation>%1 records</translation>
    </message>
    <message>
        <source>不能导出到记录数据库自身：
%1</source>
        <translation>Cannot export into the records database itself:
%1</translation>
    </message>
    <message>
        <source>正在导出记录…</source>
        <translation>Exporting records…</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>正在导出记录… 已导出 %1 条</source>
        <translation>Exporting records… %1 exported</translation>
    </message>
    <message>
        <source>已导出 %1 条记录到
%2</source>
        <translation>Exported %1 records to
%2</translation>
    </message>
    <message>
        <source>导出已取消，没有写入文件。</source>
        <translation>Export cancelled; no file was written.</translation>
    </message>
    <message>
        <source>导出失败，没有写入文件：
%1

原因：%2</source>
        <translation>Export failed; no file was written:
%1

Reason: %2</translation>
    </message>
</context>
<context>
    <name>kx::CResetRowColDlg</name>
    <message>
        <source>设置测试头行列数</source>
        <translation>Rows and Columns of Heads</translation>
    </message>
    <message>
        <source>每列分配数</source>
        <translation>Columns:</translation>
    </message>
    <message>
        <source>每行分配数</source>
        <translation>Rows:</translation>
    </message>
</context>
<context>
    <name>kx::CStatusStrip</name>
    <message>
        <source>良率 --</source>
        <translation>Yield --</translation>
    </message>
    <message>
        <source>良率 %1%</source>
        <translation>Yield %1%</translation>
    </message>
    <message>
        <source>已测 %1</source>
        <translation>Tested %1</translation>
    </message>
    <message>
        <source>通过 %1</source>
        <translation>Passed %1</translation>
    </message>
    <message>
        <source>失败 %1</source>
        <translation>Failed %1</translation>
    </message>
    <message>
        <source>记录未保存</source>
        <translation>Records not saved</translation>
    </message>
    <message>
        <source>测试板设置</source>
        <translation>Board settings</translation>
    </message>
    <message>
        <source>未连接测试板</source>
        <translation>No board connected</translation>
    </message>
    <message>
        <source>条码 %1</source>
        <translation>Serial %1</translation>
    </message>
    <message>
        <source>待上传 %1</source>
        <translation>To upload %1</translation>
    </message>
</context>
</TS>
