-- The demo database of scripts/run.sh: a few small tables covering the kinds of data the tool
-- shows (Chinese text, NULLs, TEXT and BLOB, dates, decimals) and one table of 100,000 rows.
SET NAMES utf8mb4;

CREATE TABLE IF NOT EXISTS customers (
  id INT PRIMARY KEY,
  name VARCHAR(50) NOT NULL,
  city VARCHAR(30),
  code CHAR(6),
  credit DECIMAL(12, 2),
  joined DATE,
  note TEXT
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

INSERT IGNORE INTO customers VALUES
  (1, '张伟', '北京', '000123', 12500.50, '2019-03-14', '老客户，按季度结算'),
  (2, '王芳', '上海', '000456', NULL, '2020-07-01', NULL),
  (3, '李娜', NULL, NULL, 880.00, '2021-11-30', 'Prefers e-mail; 周末不联系'),
  (4, 'Smith & Co.', 'London', 'GB0001', 99999.99, NULL, 'Back\\slash and ''quote'''),
  (5, '', '深圳', '000789', 0.00, '2023-01-05', '');

CREATE TABLE IF NOT EXISTS products (
  sku VARCHAR(20) PRIMARY KEY,
  title VARCHAR(100) NOT NULL,
  price DECIMAL(10, 2) NOT NULL,
  stock INT NOT NULL DEFAULT 0,
  picture BLOB,
  updated_at DATETIME
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

INSERT IGNORE INTO products VALUES
  ('A-100', '无线鼠标', 89.00, 120, X'89504E470D0A1A0A', '2024-05-01 09:30:00'),
  ('A-200', '机械键盘（青轴）', 399.00, 35, NULL, '2024-05-02 14:00:00'),
  ('B-010', 'USB-C cable 1m', 19.90, 0, X'00FF00FF', NULL),
  ('C-777', '显示器 27英寸', 1499.00, 8, NULL, '2024-06-18 08:05:59');

CREATE TABLE IF NOT EXISTS orders (
  id BIGINT PRIMARY KEY,
  customer_id INT NOT NULL,
  sku VARCHAR(20) NOT NULL,
  quantity INT NOT NULL,
  amount DECIMAL(12, 2) NOT NULL,
  status ENUM('新建', '已付款', '已发货', '已完成') NOT NULL,
  ordered_at DATETIME NOT NULL,
  remark VARCHAR(200)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- 100,000 generated orders, filled only once.
INSERT INTO orders
SELECT seq,
       1 + seq % 5,
       ELT(1 + seq % 4, 'A-100', 'A-200', 'B-010', 'C-777'),
       1 + seq % 7,
       ROUND((1 + seq % 7) * ELT(1 + seq % 4, 89.00, 399.00, 19.90, 1499.00), 2),
       ELT(1 + seq % 4, '新建', '已付款', '已发货', '已完成'),
       TIMESTAMP('2024-01-01') + INTERVAL seq MINUTE,
       IF(seq % 10 = 0, NULL, CONCAT('订单备注 #', seq))
FROM seq_1_to_100000
WHERE NOT EXISTS (SELECT 1 FROM orders LIMIT 1);
