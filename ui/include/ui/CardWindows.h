#pragma once

class COrvaneApp;

// Gives the main window's "用户卡", "管理卡" and "批量登记…" their windows: each command opens a
// fresh, modal window.
void ConnectCardWindows(COrvaneApp& app);
