<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
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
</TS>
