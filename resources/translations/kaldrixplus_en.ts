<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
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
        <translation>multi-head master board</translation>
    </message>
    <message>
        <source>一拖一测试板</source>
        <translation>one-to-one tester board</translation>
    </message>
    <message>
        <source>测试板</source>
        <translation>tester board</translation>
    </message>
    <message>
        <source>Velmora5 多头测试板</source>
        <translation>Velmora5 multi-head tester board</translation>
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
        <translation>No tester board is connected, so the configuration was not loaded; nothing was changed on the screen or on the boards.
Plug in the tester board and load the configuration once the window title says that the device is connected.</translation>
    </message>
    <message>
        <source>请检查测试板及其 USB 连接（必要时拔下再插上），等窗口标题显示“设备已经连接”后重新载入配置。</source>
        <translation>Check the tester boards and their USB connections (unplug and plug them in again if needed), and load the configuration again once the window title says that the device is connected.</translation>
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
</TS>
