<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
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
    <name>ConfigFile</name>
    <message>
        <source>配置文件(*.ini)</source>
        <translation>Configuration files (*.ini)</translation>
    </message>
</context>
<context>
    <name>ConfigTransfer</name>
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
</TS>
