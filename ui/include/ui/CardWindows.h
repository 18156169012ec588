#pragma once

class COrvaneApp;

// Gives the main window's "用户卡", "管理卡", "批量登记…", "操作记录…", "收费汇总…" and "即将到期…"
// their windows: each command opens a fresh, modal window.
void ConnectCardWindows(COrvaneApp& app);
